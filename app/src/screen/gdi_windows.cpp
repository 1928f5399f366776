#include "screen/gdi_windows.h"

#include "screen/screen_target.h"

#include <windows.h>

#include <dwmapi.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <string_view>

namespace {
std::string utf8_of(const wchar_t* text, int length) {
    if (length <= 0) return {};
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(std::max(bytes, 0)), '\0');
    if (bytes > 0) WideCharToMultiByte(CP_UTF8, 0, text, length, out.data(), bytes, nullptr, nullptr);
    return out;
}

// A handle's significant 32 bits, as 64-bit Windows shares them with 32-bit
// programs.
std::string window_id_text(HWND window) {
    return x_window_id_text(static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(window)));
}

HWND parse_window_id(const std::string& id) {
    auto value = parse_x_window_id(id);
    if (!value) return nullptr;
    return reinterpret_cast<HWND>(static_cast<std::intptr_t>(static_cast<std::int32_t>(*value)));
}

bool cloaked(HWND window) {
    DWORD cloak = 0;
    return SUCCEEDED(DwmGetWindowAttribute(window, DWMWA_CLOAKED, &cloak, sizeof cloak)) && cloak != 0;
}

bool shown_to_the_user(HWND window) {
    if (!IsWindowVisible(window) || IsIconic(window)) return false;
    if (GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_TOOLWINDOW) return false;
    if (GetWindowTextLengthW(window) <= 0) return false;
    return !cloaked(window);
}

// The frame as drawn: since Windows 10 the window's rectangle also holds
// invisible borders for resizing, which the compositor leaves out.
FrameRegion window_area(HWND window, const GdiDesktop& desktop) {
    RECT r{};
    if (FAILED(DwmGetWindowAttribute(window, DWMWA_EXTENDED_FRAME_BOUNDS, &r, sizeof r)) || r.right <= r.left ||
        r.bottom <= r.top) {
        GetWindowRect(window, &r);
    }
    return {r.left - desktop.left, r.top - desktop.top, r.right - r.left, r.bottom - r.top};
}

std::optional<std::string> image_name(DWORD process_id) {
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id);
    if (!process) return std::nullopt;
    wchar_t path[MAX_PATH * 2];
    DWORD length = sizeof path / sizeof path[0];
    BOOL read = QueryFullProcessImageNameW(process, 0, path, &length);
    CloseHandle(process);
    if (!read || length == 0) return std::nullopt;
    std::wstring_view whole(path, length);
    std::size_t slash = whole.find_last_of(L"\\/");
    std::wstring_view name = slash == std::wstring_view::npos ? whole : whole.substr(slash + 1);
    if (name.empty()) return std::nullopt;
    return utf8_of(name.data(), static_cast<int>(name.size()));
}

struct Listing {
    const GdiDesktop& desktop;
    HWND foreground;
    std::map<DWORD, std::optional<std::string>> programs;  // by process, looked up once
    std::vector<WindowInfo> windows;
};

BOOL CALLBACK add_window(HWND window, LPARAM context) {
    auto& listing = *reinterpret_cast<Listing*>(context);
    if (!shown_to_the_user(window)) return TRUE;
    WindowInfo info;
    info.id = window_id_text(window);
    wchar_t title[1024];
    info.title = utf8_of(title, GetWindowTextW(window, title, sizeof title / sizeof title[0]));
    DWORD process_id = 0;
    GetWindowThreadProcessId(window, &process_id);
    auto known = listing.programs.find(process_id);
    if (known == listing.programs.end()) known = listing.programs.emplace(process_id, image_name(process_id)).first;
    info.program = known->second;
    info.area = window_area(window, listing.desktop);
    info.monitor = monitor_showing(info.area, listing.desktop.monitors);
    info.focused = window == listing.foreground;
    listing.windows.push_back(std::move(info));
    return TRUE;
}
}  // namespace

std::vector<WindowInfo> read_gdi_windows(const GdiDesktop& desktop) {
    Listing listing{desktop, GetForegroundWindow(), {}, {}};
    EnumWindows(add_window, reinterpret_cast<LPARAM>(&listing));
    return std::move(listing.windows);
}

std::optional<FrameRegion> gdi_window_area(const std::string& id, const GdiDesktop& desktop) {
    HWND window = parse_window_id(id);
    // Only a top-level window that the list shows: not a child window, nor
    // one hidden from the user.
    if (!window || !IsWindow(window) || GetAncestor(window, GA_ROOT) != window || !shown_to_the_user(window))
        return std::nullopt;
    return window_area(window, desktop);
}
