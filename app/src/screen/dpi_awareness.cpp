#include "screen/dpi_awareness.h"

#include <windows.h>

namespace {
// Windows 8.1's shcore.dll, declared here so that the app does not import
// it (it starts on systems without it).
enum ProcessDpiAwareness { process_dpi_unaware = 0, process_system_dpi_aware = 1, process_per_monitor_dpi_aware = 2 };
using SetProcessDpiAwarenessCall = HRESULT(WINAPI*)(ProcessDpiAwareness);
using GetProcessDpiAwarenessCall = HRESULT(WINAPI*)(HANDLE, ProcessDpiAwareness*);
// Windows 10's user32.dll (1607 and 1703), looked up for the same reason.
using SetProcessDpiAwarenessContextCall = BOOL(WINAPI*)(DPI_AWARENESS_CONTEXT);
using GetThreadDpiAwarenessContextCall = DPI_AWARENESS_CONTEXT(WINAPI*)();
using AreDpiAwarenessContextsEqualCall = BOOL(WINAPI*)(DPI_AWARENESS_CONTEXT, DPI_AWARENESS_CONTEXT);

template <typename Call>
Call find(HMODULE library, const char* name) {
    if (!library) return nullptr;
    return reinterpret_cast<Call>(reinterpret_cast<void*>(GetProcAddress(library, name)));
}

// What the process has now, as precisely as the system can tell.
DpiAwareness current_awareness(HMODULE user32, HMODULE shcore) {
    auto thread_context = find<GetThreadDpiAwarenessContextCall>(user32, "GetThreadDpiAwarenessContext");
    auto equal = find<AreDpiAwarenessContextsEqualCall>(user32, "AreDpiAwarenessContextsEqual");
    if (thread_context && equal) {
        DPI_AWARENESS_CONTEXT context = thread_context();
        if (equal(context, DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2)) return DpiAwareness::per_monitor_v2;
        if (equal(context, DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE)) return DpiAwareness::per_monitor;
        if (equal(context, DPI_AWARENESS_CONTEXT_SYSTEM_AWARE)) return DpiAwareness::system;
        if (equal(context, DPI_AWARENESS_CONTEXT_UNAWARE)) return DpiAwareness::unaware;
    }
    if (auto get = find<GetProcessDpiAwarenessCall>(shcore, "GetProcessDpiAwareness")) {
        ProcessDpiAwareness awareness = process_dpi_unaware;
        if (SUCCEEDED(get(nullptr, &awareness))) {
            if (awareness == process_per_monitor_dpi_aware) return DpiAwareness::per_monitor;
            if (awareness == process_system_dpi_aware) return DpiAwareness::system;
            return DpiAwareness::unaware;
        }
    }
    return IsProcessDPIAware() ? DpiAwareness::system : DpiAwareness::unaware;
}
}  // namespace

DpiAwareness make_process_dpi_aware() {
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    // Kept loaded: the process's awareness lives as long as it does.
    HMODULE shcore = LoadLibraryW(L"shcore.dll");
    // Each step fails with ERROR_ACCESS_DENIED once the awareness is set
    // (by the manifest or a step before); the next is tried only when the
    // step is not there or refuses the value (as wine 8 refuses v2).
    bool set = false;
    if (auto set_context = find<SetProcessDpiAwarenessContextCall>(user32, "SetProcessDpiAwarenessContext")) {
        set = set_context(DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2) || GetLastError() == ERROR_ACCESS_DENIED;
    }
    if (!set) {
        if (auto set_awareness = find<SetProcessDpiAwarenessCall>(shcore, "SetProcessDpiAwareness")) {
            HRESULT result = set_awareness(process_per_monitor_dpi_aware);
            set = SUCCEEDED(result) || result == E_ACCESSDENIED;
        }
    }
    if (!set) SetProcessDPIAware();
    return current_awareness(user32, shcore);
}

const char* dpi_awareness_name(DpiAwareness awareness) {
    switch (awareness) {
        case DpiAwareness::per_monitor_v2:
            return "per-monitor v2";
        case DpiAwareness::per_monitor:
            return "per-monitor";
        case DpiAwareness::system:
            return "system";
        case DpiAwareness::unaware:
            break;
    }
    return "unaware";
}
