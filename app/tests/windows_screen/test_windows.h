#pragma once
// Top-level windows that the Windows screen tests and benchmark make and
// paint themselves, so that a picture of the screen has known pixels at
// known places. Windows only.
#include <windows.h>

#include <chrono>
#include <functional>
#include <string>

// Paints the window's whole client area, `width` x `height`, into `dc`.
using WindowPainter = std::function<void(HDC dc, int width, int height)>;

struct TestWindowLook {
    std::wstring title;
    int x = 0, y = 0, width = 0, height = 0;
    DWORD style = WS_POPUP | WS_VISIBLE;  // no frame: the window's area is its client area
    DWORD extended_style = 0;
    WindowPainter paint;
};

// Made on the calling thread, whose messages pump_messages() must then
// dispatch. Destroyed with the object.
class TestWindow {
public:
    explicit TestWindow(TestWindowLook look);
    ~TestWindow();
    TestWindow(const TestWindow&) = delete;
    TestWindow& operator=(const TestWindow&) = delete;

    HWND handle() const { return handle_; }
    std::string id() const;  // as /windows gives it: "0x10054"
    void repaint();          // paints again at once

private:
    TestWindowLook look_;
    HWND handle_ = nullptr;
};

// Dispatches the calling thread's messages for `time`.
void pump_messages(std::chrono::milliseconds time);

// Fills a rectangle of `dc` with one colour.
void fill(HDC dc, int left, int top, int right, int bottom, COLORREF colour);
