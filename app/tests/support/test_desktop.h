#pragma once
// A tiny X client of the tests: paints the root window, opens windows of
// known colours, titles and programs, and can stand in for a window
// manager's EWMH properties. Its connection stays open until it is
// destroyed, so that the server keeps what it drew.
#include <X11/Xlib.h>

#include <cstdint>
#include <string>
#include <vector>

struct TestWindow {
    std::string title;    // empty: none set
    std::string program;  // WM_CLASS's instance name; empty: none set
    int x = 0, y = 0, width = 0, height = 0;
    std::uint32_t rgb = 0;
    bool mapped = true;
};

class TestDesktop {
public:
    explicit TestDesktop(const std::string& display);
    ~TestDesktop();
    TestDesktop(const TestDesktop&) = delete;
    TestDesktop& operator=(const TestDesktop&) = delete;

    // Fills a rectangle of the root window (the desktop's background).
    void paint(int x, int y, int width, int height, std::uint32_t rgb);
    // Opens a top-level window and waits until the server has shown it.
    Window open(const TestWindow& window);
    void focus(Window window);
    // What a window manager says: the windows it manages and the active one.
    void set_client_list(const std::vector<Window>& windows, Window active);
    void sync();

private:
    Display* display_;
};

// "0x3c00007", as the app writes window ids.
std::string window_id(Window window);
