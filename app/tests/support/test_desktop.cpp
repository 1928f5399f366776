#include "test_desktop.h"

#include <X11/Xatom.h>
#include <X11/Xutil.h>

#include <cstdio>
#include <stdexcept>

TestDesktop::TestDesktop(const std::string& display) : display_(XOpenDisplay(display.c_str())) {
    if (!display_) throw std::runtime_error("cannot open the test's display " + display);
}

TestDesktop::~TestDesktop() {
    XCloseDisplay(display_);
}

void TestDesktop::sync() {
    XSync(display_, False);
}

void TestDesktop::paint(int x, int y, int width, int height, std::uint32_t rgb) {
    int screen = DefaultScreen(display_);
    GC gc = DefaultGC(display_, screen);
    XSetForeground(display_, gc, rgb);
    XFillRectangle(display_, RootWindow(display_, screen), gc, x, y, static_cast<unsigned>(width),
                   static_cast<unsigned>(height));
    sync();
}

Window TestDesktop::open(const TestWindow& w) {
    int screen = DefaultScreen(display_);
    Window window = XCreateSimpleWindow(display_, RootWindow(display_, screen), w.x, w.y,
                                        static_cast<unsigned>(w.width), static_cast<unsigned>(w.height), 0, 0, w.rgb);
    if (!w.title.empty()) {
        // WM_NAME in Latin-1 and _NET_WM_NAME in UTF-8, as toolkits set them.
        XStoreName(display_, window, w.title.c_str());
        Atom net_wm_name = XInternAtom(display_, "_NET_WM_NAME", False);
        Atom utf8 = XInternAtom(display_, "UTF8_STRING", False);
        XChangeProperty(display_, window, net_wm_name, utf8, 8, PropModeReplace,
                        reinterpret_cast<const unsigned char*>(w.title.data()), static_cast<int>(w.title.size()));
    }
    if (!w.program.empty()) {
        std::string instance = w.program, class_name = w.program;
        class_name[0] =
            static_cast<char>(class_name[0] >= 'a' && class_name[0] <= 'z' ? class_name[0] - 32 : class_name[0]);
        XClassHint hint{instance.data(), class_name.data()};
        XSetClassHint(display_, window, &hint);
    }
    if (w.mapped) {
        XSelectInput(display_, window, ExposureMask);
        XMapWindow(display_, window);
        // Shown once the server says it is exposed (its background painted).
        XEvent event;
        XWindowEvent(display_, window, ExposureMask, &event);
    }
    sync();
    return window;
}

void TestDesktop::focus(Window window) {
    XSetInputFocus(display_, window, RevertToParent, CurrentTime);
    sync();
}

void TestDesktop::set_client_list(const std::vector<Window>& windows, Window active) {
    Window root = DefaultRootWindow(display_);
    std::vector<unsigned long> ids(windows.begin(), windows.end());
    XChangeProperty(display_, root, XInternAtom(display_, "_NET_CLIENT_LIST", False), XA_WINDOW, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(ids.data()), static_cast<int>(ids.size()));
    unsigned long active_id = active;
    XChangeProperty(display_, root, XInternAtom(display_, "_NET_ACTIVE_WINDOW", False), XA_WINDOW, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(&active_id), 1);
    sync();
}

std::string window_id(Window window) {
    char text[32];
    std::snprintf(text, sizeof text, "0x%lx", static_cast<unsigned long>(window));
    return text;
}
