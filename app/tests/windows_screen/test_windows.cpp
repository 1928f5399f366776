#include "test_windows.h"

#include <cstdint>
#include <cstdio>
#include <thread>

namespace {
const wchar_t* const class_name = L"vistrel-test-window";

LRESULT CALLBACK window_procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTW*>(l);
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    if (message == WM_PAINT) {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window, &paint);
        RECT client{};
        GetClientRect(window, &client);
        auto* painter = reinterpret_cast<WindowPainter*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        if (painter && *painter) (*painter)(dc, client.right, client.bottom);
        EndPaint(window, &paint);
        return 0;
    }
    if (message == WM_ERASEBKGND) return 1;  // the painter covers everything
    return DefWindowProcW(window, message, w, l);
}

void register_class() {
    static bool registered = [] {
        WNDCLASSW window_class{};
        window_class.lpfnWndProc = window_procedure;
        window_class.hInstance = GetModuleHandleW(nullptr);
        window_class.lpszClassName = class_name;
        window_class.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
        return RegisterClassW(&window_class) != 0;
    }();
    (void)registered;
}
}  // namespace

TestWindow::TestWindow(TestWindowLook look) : look_(std::move(look)) {
    register_class();
    handle_ = CreateWindowExW(look_.extended_style, class_name, look_.title.c_str(), look_.style, look_.x, look_.y,
                              look_.width, look_.height, nullptr, nullptr, GetModuleHandleW(nullptr), &look_.paint);
    if (handle_ && (look_.style & WS_VISIBLE)) UpdateWindow(handle_);
}

TestWindow::~TestWindow() {
    if (handle_) DestroyWindow(handle_);
}

std::string TestWindow::id() const {
    char text[32];
    std::snprintf(text, sizeof text, "0x%x", static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(handle_)));
    return text;
}

void TestWindow::repaint() {
    RedrawWindow(handle_, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
}

void pump_messages(std::chrono::milliseconds time) {
    auto until = std::chrono::steady_clock::now() + time;
    do {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    } while (std::chrono::steady_clock::now() < until);
}

void fill(HDC dc, int left, int top, int right, int bottom, COLORREF colour) {
    HBRUSH brush = CreateSolidBrush(colour);
    RECT area{left, top, right, bottom};
    FillRect(dc, &area, brush);
    DeleteObject(brush);
}
