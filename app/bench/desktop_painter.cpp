// Paints a desktop-like picture on the root window of DISPLAY for the screen
// benchmark, so that compressing it costs what a real desktop costs (a black
// screen compresses almost for free): light windows of dark text-like
// strokes, coloured bars and a photo-like gradient with noise. Then waits
// until its standard input closes, keeping its connection (and with it the
// picture) alive.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

int main() {
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "desktop_painter: cannot open the display\n");
        return 1;
    }
    int screen = DefaultScreen(display);
    int width = DisplayWidth(display, screen), height = DisplayHeight(display, screen);
    std::vector<std::uint32_t> pixels(static_cast<std::size_t>(width) * height);
    std::mt19937 random(7);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            // A photo-like background: gradients with a little noise.
            int noise = static_cast<int>(random() % 4);
            std::uint32_t r = static_cast<std::uint32_t>((x * 255 / width + noise) & 0xff);
            std::uint32_t g = static_cast<std::uint32_t>((y * 255 / height + noise) & 0xff);
            std::uint32_t b = static_cast<std::uint32_t>(((x + y) * 128 / (width + height) + 64 + noise) & 0xff);
            pixels[static_cast<std::size_t>(y) * width + x] = (r << 16) | (g << 8) | b;
        }
    }
    // Windows of text: light pages with rows of dark strokes of random
    // lengths, the way lines of small text look to an encoder.
    for (int w = 0; w < 6; ++w) {
        int left = static_cast<int>(random() % static_cast<unsigned>(width * 2 / 3));
        int top = static_cast<int>(random() % static_cast<unsigned>(height / 2));
        int right = std::min(width, left + width / 3), bottom = std::min(height, top + height / 2);
        for (int y = top; y < bottom; ++y) {
            for (int x = left; x < right; ++x) pixels[static_cast<std::size_t>(y) * width + x] = 0xf4f4f0;
        }
        for (int line = top + 30; line + 10 < bottom; line += 16) {
            for (int x = left + 8; x < right - 8;) {
                int word = 10 + static_cast<int>(random() % 50);
                for (int y = line; y < line + 9; ++y) {
                    for (int i = x; i < std::min(x + word, right - 8); ++i) {
                        if ((random() % 3) != 0) pixels[static_cast<std::size_t>(y) * width + i] = 0x202020;
                    }
                }
                x += word + 6;
            }
        }
        // A title bar in colour.
        for (int y = top; y < std::min(bottom, top + 22); ++y) {
            for (int x = left; x < right; ++x) pixels[static_cast<std::size_t>(y) * width + x] = 0x3366cc;
        }
    }
    XImage* image =
        XCreateImage(display, DefaultVisual(display, screen), 24, ZPixmap, 0, reinterpret_cast<char*>(pixels.data()),
                     static_cast<unsigned>(width), static_cast<unsigned>(height), 32, 0);
    Pixmap pixmap = XCreatePixmap(display, RootWindow(display, screen), static_cast<unsigned>(width),
                                  static_cast<unsigned>(height), static_cast<unsigned>(DefaultDepth(display, screen)));
    XPutImage(display, pixmap, DefaultGC(display, screen), image, 0, 0, 0, 0, static_cast<unsigned>(width),
              static_cast<unsigned>(height));
    // The root's background, so that nothing can paint it over.
    XSetWindowBackgroundPixmap(display, RootWindow(display, screen), pixmap);
    XClearWindow(display, RootWindow(display, screen));
    XSync(display, False);
    image->data = nullptr;
    XDestroyImage(image);
    std::puts("painted");
    std::fflush(stdout);
    while (std::getchar() != EOF) {
    }
    XCloseDisplay(display);
    return 0;
}
