#include "process/windows_shell.h"

#include "platform/win32_text.h"

#include <windows.h>
// after windows.h
#include <io.h>
#include <shellapi.h>
#include <shlobj.h>

#include <atomic>
#include <cstdio>
#include <mutex>

namespace fs = std::filesystem;

namespace {
constexpr UINT tray_message = WM_APP + 1;
constexpr UINT quit_message = WM_APP + 2;
enum MenuItem : UINT { menu_status = 1, menu_autostart, menu_log_folder, menu_quit };
constexpr const wchar_t* window_class = L"vistrel-app";
constexpr const wchar_t* run_key = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr const wchar_t* run_value = L"vistrel-app";

struct Shell {
    const ShellSettings* settings = nullptr;
    std::function<void()> stop;
    HWND window = nullptr;
    HICON icon = nullptr;
    UINT taskbar_created = 0;
    bool icon_shown = false;
    bool stopped = false;
    HANDLE done = nullptr;  // set once `stop` has run
};
Shell shell;
std::atomic<HWND> shell_window{nullptr};

fs::path own_program() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

// An eye, drawn here rather than kept as a binary file: a white almond with
// a dark blue iris on a transparent ground.
HICON make_icon() {
    constexpr int side = 32;
    BITMAPV5HEADER header{};
    header.bV5Size = sizeof header;
    header.bV5Width = side;
    header.bV5Height = -side;
    header.bV5Planes = 1;
    header.bV5BitCount = 32;
    header.bV5Compression = BI_BITFIELDS;
    header.bV5RedMask = 0x00FF0000;
    header.bV5GreenMask = 0x0000FF00;
    header.bV5BlueMask = 0x000000FF;
    header.bV5AlphaMask = 0xFF000000;
    void* bits = nullptr;
    HDC screen = GetDC(nullptr);
    HBITMAP colour =
        CreateDIBSection(screen, reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS, &bits, nullptr, 0);
    ReleaseDC(nullptr, screen);
    if (!colour || !bits) return LoadIcon(nullptr, IDI_APPLICATION);
    auto* pixels = static_cast<std::uint32_t*>(bits);
    for (int y = 0; y < side; ++y) {
        for (int x = 0; x < side; ++x) {
            double dx = (x + 0.5 - side / 2.0) / (side / 2.0), dy = (y + 0.5 - side / 2.0) / (side / 2.0);
            // The almond: two arcs meeting at the corners of the eye.
            bool in_eye = dx * dx + (dy * 2.2) * (dy * 2.2) < 1.0 - 0.35 * dx * dx;
            double r = dx * dx + dy * dy;
            std::uint32_t pixel = 0;
            if (r < 0.06) {
                pixel = 0xFF101830;
            } else if (r < 0.16 && in_eye) {
                pixel = 0xFF2050A0;
            } else if (in_eye) {
                pixel = 0xFFF4F4F4;
            }
            pixels[y * side + x] = pixel;
        }
    }
    HBITMAP mask = CreateBitmap(side, side, 1, 1, nullptr);
    ICONINFO info{};
    info.fIcon = TRUE;
    info.hbmColor = colour;
    info.hbmMask = mask;
    HICON icon = CreateIconIndirect(&info);
    DeleteObject(colour);
    DeleteObject(mask);
    return icon ? icon : LoadIcon(nullptr, IDI_APPLICATION);
}

NOTIFYICONDATAW icon_data() {
    NOTIFYICONDATAW data{};
    data.cbSize = sizeof data;
    data.hWnd = shell.window;
    data.uID = 1;
    return data;
}

void show_icon() {
    NOTIFYICONDATAW data = icon_data();
    data.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    data.uCallbackMessage = tray_message;
    data.hIcon = shell.icon;
    wcsncpy(data.szTip, L"vistrel-app", std::size(data.szTip) - 1);
    shell.icon_shown = Shell_NotifyIconW(NIM_ADD, &data) != FALSE;
    if (shell.icon_shown) {
        data.uVersion = NOTIFYICON_VERSION_4;
        Shell_NotifyIconW(NIM_SETVERSION, &data);
        std::fprintf(stderr, "vistrel-app: its icon is in the notification area\n");
    } else {
        std::fprintf(stderr, "vistrel-app: cannot show an icon in the notification area\n");
    }
}

void hide_icon() {
    if (!shell.icon_shown) return;
    NOTIFYICONDATAW data = icon_data();
    Shell_NotifyIconW(NIM_DELETE, &data);
    shell.icon_shown = false;
}

// Ends what the app does, once, on the shell's thread.
void stop_once() {
    if (shell.stopped) return;
    shell.stopped = true;
    hide_icon();
    if (shell.stop) shell.stop();
    if (shell.done) SetEvent(shell.done);
}

void show_menu() {
    HMENU menu = CreatePopupMenu();
    std::string status = shell.settings->status ? shell.settings->status() : "vistrel-app";
    AppendMenuW(menu, MF_STRING | MF_GRAYED, menu_status, wide_from_utf8(status).c_str());
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING | (autostart_enabled() ? MF_CHECKED : MF_UNCHECKED), menu_autostart,
                L"Start at sign-in");
    AppendMenuW(menu, MF_STRING, menu_log_folder, L"Open the log folder");
    AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(menu, MF_STRING, menu_quit, L"Quit");
    POINT at{};
    GetCursorPos(&at);
    // Without this the menu stays open when the user clicks elsewhere.
    SetForegroundWindow(shell.window);
    UINT chosen =
        TrackPopupMenu(menu, TPM_RETURNCMD | TPM_NONOTIFY | TPM_RIGHTBUTTON, at.x, at.y, 0, shell.window, nullptr);
    DestroyMenu(menu);
    switch (chosen) {
        case menu_autostart: {
            std::string error;
            if (!set_autostart(!autostart_enabled(), shell.settings->autostart_arguments, error)) {
                std::fprintf(stderr, "vistrel-app: %s\n", error.c_str());
            }
            break;
        }
        case menu_log_folder: {
            fs::path folder = log_folder();
            std::error_code ignored;
            fs::create_directories(folder, ignored);
            ShellExecuteW(nullptr, L"open", folder.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
            break;
        }
        case menu_quit:
            PostMessageW(shell.window, quit_message, 0, 0);
            break;
        default:
            break;
    }
}

LRESULT CALLBACK window_procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == shell.taskbar_created && shell.taskbar_created != 0) {
        // Explorer started again: its notification area is new and empty.
        if (shell.settings->tray && !shell.stopped) show_icon();
        return 0;
    }
    switch (message) {
        case tray_message:
            // Version 4: the event is in the low word of lparam.
            if (LOWORD(lparam) == WM_CONTEXTMENU || LOWORD(lparam) == WM_RBUTTONUP || LOWORD(lparam) == NIN_SELECT ||
                LOWORD(lparam) == WM_LBUTTONUP) {
                show_menu();
            }
            return 0;
        case quit_message:
        case WM_CLOSE:
            stop_once();
            DestroyWindow(window);
            return 0;
        case WM_QUERYENDSESSION:
            return TRUE;
        case WM_ENDSESSION:
            // The session ends once this returns: finish now.
            if (wparam) stop_once();
            return 0;
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        default:
            return DefWindowProcW(window, message, wparam, lparam);
    }
}

BOOL WINAPI on_console_event(DWORD event) {
    HWND window = shell_window.load();
    if (!window) return FALSE;
    PostMessageW(window, quit_message, 0, 0);
    // For a closing console the process ends when this returns; give the
    // app time to cut a recording short and answer its client.
    if (event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT) {
        WaitForSingleObject(shell.done, 5000);
    }
    return TRUE;
}
}  // namespace

fs::path log_folder() {
    PWSTR local = nullptr;
    fs::path base;
    if (SHGetKnownFolderPath(FOLDERID_LocalAppData, KF_FLAG_CREATE, nullptr, &local) == S_OK) base = local;
    CoTaskMemFree(local);
    if (base.empty()) base = fs::temp_directory_path();
    return base / "vistrel";
}

bool send_output_to_log() {
    fs::path folder = log_folder();
    std::error_code error;
    fs::create_directories(folder, error);
    fs::path file = folder / "vistrel-app.log";
    if (fs::file_size(file, error) > 1024 * 1024 && !error) fs::remove(file, error);
    if (!_wfreopen(file.c_str(), L"a", stdout)) return false;
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    if (_dup2(_fileno(stdout), 2) != 0) return false;
    *stderr = *stdout;
    return true;
}

bool claim_single_instance(int port) {
    std::wstring name = L"Local\\vistrel-app-" + std::to_wstring(port);
    // Kept for the app's life: the system lets go of it when the app ends.
    HANDLE mutex = CreateMutexW(nullptr, TRUE, name.c_str());
    return mutex != nullptr && GetLastError() != ERROR_ALREADY_EXISTS;
}

bool autostart_enabled() {
    wchar_t value[2048];
    DWORD size = sizeof value;
    return RegGetValueW(HKEY_CURRENT_USER, run_key, run_value, RRF_RT_REG_SZ, nullptr, value, &size) == ERROR_SUCCESS;
}

bool set_autostart(bool on, const std::string& arguments, std::string& error) {
    HKEY key = nullptr;
    LSTATUS status = RegCreateKeyExW(HKEY_CURRENT_USER, run_key, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr);
    if (status == ERROR_SUCCESS) {
        if (on) {
            std::wstring command = L"\"" + own_program().wstring() + L"\"";
            if (!arguments.empty()) command += L" " + wide_from_utf8(arguments);
            status = RegSetValueExW(key, run_value, 0, REG_SZ, reinterpret_cast<const BYTE*>(command.c_str()),
                                    static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t)));
        } else {
            status = RegDeleteValueW(key, run_value);
            if (status == ERROR_FILE_NOT_FOUND) status = ERROR_SUCCESS;
        }
        RegCloseKey(key);
    }
    if (status != ERROR_SUCCESS) {
        error = std::string("cannot change the start at sign-in: ") + system_error_text(static_cast<DWORD>(status));
        return false;
    }
    return true;
}

void run_windows_shell(const ShellSettings& settings, const std::function<void()>& stop) {
    shell.settings = &settings;
    shell.stop = stop;
    shell.done = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW type{};
    type.cbSize = sizeof type;
    type.lpfnWndProc = window_procedure;
    type.hInstance = instance;
    type.lpszClassName = window_class;
    RegisterClassExW(&type);
    shell.icon = make_icon();
    // A hidden top-level window, not a message-only one: only top-level
    // windows hear that the session ends, and that Explorer started again.
    shell.window = CreateWindowExW(WS_EX_TOOLWINDOW, window_class, L"vistrel-app", WS_POPUP, 0, 0, 0, 0, nullptr,
                                   nullptr, instance, nullptr);
    if (!shell.window) {
        std::fprintf(stderr, "vistrel-app: cannot make its window: %s\n", system_error_text(GetLastError()).c_str());
        stop_once();
        return;
    }
    shell.taskbar_created = RegisterWindowMessageW(L"TaskbarCreated");
    shell_window = shell.window;
    SetConsoleCtrlHandler(on_console_event, TRUE);
    if (settings.tray) show_icon();

    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    shell_window = nullptr;
    stop_once();
}

void quit_windows_shell() {
    if (HWND window = shell_window.load()) PostMessageW(window, quit_message, 0, 0);
}
