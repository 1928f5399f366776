#include "screen/gdi_desktop.h"

#include "screen/screen_target.h"

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <string_view>

namespace {
std::string ascii_of(std::wstring_view text) {
    std::string out;
    for (wchar_t c : text) out += c > 0 && c < 128 ? static_cast<char>(c) : '?';
    return out;
}

BOOL CALLBACK add_monitor(HMONITOR monitor, HDC, LPRECT, LPARAM context) {
    auto& desktop = *reinterpret_cast<GdiDesktop*>(context);
    MONITORINFOEXW info{};
    info.cbSize = sizeof info;
    if (!GetMonitorInfoW(monitor, &info)) return TRUE;
    const RECT& r = info.rcMonitor;
    // "\\.\DISPLAY1" names the display device; the prefix says nothing.
    std::wstring_view device = info.szDevice;
    if (device.substr(0, 4) == L"\\\\.\\") device.remove_prefix(4);
    FrameSize size{r.right - r.left, r.bottom - r.top};
    desktop.monitors.push_back(
        {ascii_of(device), {r.left - desktop.left, r.top - desktop.top, size.width, size.height}, size});
    return TRUE;
}
}  // namespace

GdiDesktop read_gdi_desktop(bool with_monitors) {
    GdiDesktop desktop;
    desktop.left = GetSystemMetrics(SM_XVIRTUALSCREEN);
    desktop.top = GetSystemMetrics(SM_YVIRTUALSCREEN);
    desktop.size = {GetSystemMetrics(SM_CXVIRTUALSCREEN), GetSystemMetrics(SM_CYVIRTUALSCREEN)};
    if (desktop.size.width <= 0 || desktop.size.height <= 0) {
        desktop.size = {};
        return desktop;
    }
    if (!with_monitors) return desktop;
    EnumDisplayMonitors(nullptr, nullptr, add_monitor, reinterpret_cast<LPARAM>(&desktop));
    if (desktop.monitors.empty())
        desktop.monitors.push_back({"", {0, 0, desktop.size.width, desktop.size.height}, desktop.size});
    sort_monitors(desktop.monitors);
    return desktop;
}

std::optional<std::string> input_desktop_name() {
    HDESK input = OpenInputDesktop(0, FALSE, DESKTOP_READOBJECTS);
    if (!input) return std::nullopt;
    wchar_t name[64] = {};
    DWORD needed = 0;
    BOOL named = GetUserObjectInformationW(input, UOI_NAME, name, sizeof name - sizeof name[0], &needed);
    CloseDesktop(input);
    if (!named) return std::nullopt;
    return ascii_of(name);
}

bool is_user_desktop(const std::optional<std::string>& name) {
    return name && name->size() == 7 && std::equal(name->begin(), name->end(), "default", [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) == b;
           });
}

std::string desktop_text(const GdiDesktop& desktop) {
    std::size_t count = desktop.monitors.size();
    return "desktop " + std::to_string(desktop.size.width) + "x" + std::to_string(desktop.size.height) + ", " +
           std::to_string(count) + (count == 1 ? " monitor" : " monitors");
}
