#include "screen/x11_screen.h"

#include "fault.h"
#include "platform/descriptors.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <bit>
#include <cstdlib>
#include <memory>

namespace {
int ignore_x_error(Display*, XErrorEvent*) {
    return 0;
}
int ignore_lost_connection(Display*) {
    return 0;
}
// Instead of ending the process, a lost X connection only makes the calls on
// that display fail; the capture then reports it.
void keep_running(Display*, void*) {}

std::string display_name() {
    const char* name = std::getenv("DISPLAY");
    return name ? name : "";
}

std::string no_display_text() {
    std::string name = display_name();
    return name.empty() ? "no screen: DISPLAY is not set, so there is no X display to capture"
                        : "no screen: cannot open the X display " + name;
}

// Xlib only says that the display could not be opened; an app that is out
// of descriptors says so rather than that there is no display.
Fault no_display_fault(const std::string& text) {
    if (out_of_descriptors()) {
        return Fault{FaultKind::exhausted, "cannot open the X display " + display_name() +
                                               ": vistrel-app is out of file descriptors; try again shortly"};
    }
    return Fault{FaultKind::unavailable, text};
}

struct DisplayCloser {
    void operator()(Display* d) const { XCloseDisplay(d); }
};
using DisplayHandle = std::unique_ptr<Display, DisplayCloser>;

DisplayHandle open_display() {
    std::string name = display_name();
    if (name.empty()) return nullptr;
    DisplayHandle display(XOpenDisplay(name.c_str()));
    if (display) XSetIOErrorExitHandler(display.get(), keep_running, nullptr);
    return display;
}

// Position and width of the bits a channel mask selects.
struct Channel {
    int shift = 0;
    int bits = 0;
};

Channel channel_of(unsigned long mask) {
    Channel c;
    if (!mask) return c;
    while (!(mask & 1)) {
        mask >>= 1;
        ++c.shift;
    }
    while (mask & 1) {
        mask >>= 1;
        ++c.bits;
    }
    return c;
}

std::uint8_t channel_level(unsigned long pixel, Channel c) {
    if (c.bits == 0) return 0;
    unsigned long max = (1UL << c.bits) - 1;
    return static_cast<std::uint8_t>(((pixel >> c.shift) & max) * 255 / max);
}
}  // namespace

void prepare_x11_screen() {
    XInitThreads();
    XSetErrorHandler(ignore_x_error);
    XSetIOErrorHandler(ignore_lost_connection);
}

namespace {
std::optional<ScreenInfo> find_x_display() {
    DisplayHandle display = open_display();
    if (!display) return std::nullopt;
    int screen = DefaultScreen(display.get());
    return ScreenInfo{display_name(), {DisplayWidth(display.get(), screen), DisplayHeight(display.get(), screen)}};
}

Image capture_x_display() {
    DisplayHandle display = open_display();
    if (!display) throw no_display_fault(no_display_text());
    Display* d = display.get();
    int screen = DefaultScreen(d);
    Window root = RootWindow(d, screen);
    int width = DisplayWidth(d, screen), height = DisplayHeight(d, screen);
    Visual* visual = DefaultVisual(d, screen);
    if (visual->c_class != TrueColor && visual->c_class != DirectColor) {
        throw Fault{FaultKind::failed, "the X display uses a palette, which screen capture does not support"};
    }
    // XDestroyImage is a macro, hence the lambda.
    auto destroy = [](XImage* i) { XDestroyImage(i); };
    std::unique_ptr<XImage, decltype(destroy)> ximage(XGetImage(d, root, 0, 0, width, height, AllPlanes, ZPixmap),
                                                      destroy);
    if (!ximage) throw Fault{FaultKind::failed, "the X server refused to hand over the screen"};

    Image image = blank_image(width, height);
    Channel red = channel_of(ximage->red_mask), green = channel_of(ximage->green_mask),
            blue = channel_of(ximage->blue_mask);
    // The usual 24-bit screen of a little-endian machine is read directly;
    // anything else goes through Xlib's own pixel access.
    bool fast = ximage->bits_per_pixel == 32 && ximage->byte_order == LSBFirst && red.bits == 8 && green.bits == 8 &&
                blue.bits == 8 && std::endian::native == std::endian::little;
    for (int y = 0; y < height; ++y) {
        std::uint8_t* out = &image.rgb[static_cast<std::size_t>(y) * width * 3];
        const auto* line = reinterpret_cast<const std::uint32_t*>(ximage->data + static_cast<std::ptrdiff_t>(y) *
                                                                                     ximage->bytes_per_line);
        for (int x = 0; x < width; ++x) {
            unsigned long pixel = fast ? line[x] : XGetPixel(ximage.get(), x, y);
            out[x * 3 + 0] = channel_level(pixel, red);
            out[x * 3 + 1] = channel_level(pixel, green);
            out[x * 3 + 2] = channel_level(pixel, blue);
        }
    }
    return image;
}

class X11Screen : public ScreenBackend {
public:
    const char* name() const override { return "x11"; }
    std::optional<ScreenInfo> find() override { return find_x_display(); }
    std::string problem() override { return no_display_text(); }
    Image capture() override { return capture_x_display(); }
    RecordingInput start_recording(const std::filesystem::path&, int fps) override {
        auto screen = find_x_display();
        if (!screen) {
            throw no_display_fault("no screen to record: there is no X display (DISPLAY is not set or cannot be opened)");
        }
        return {x11grab_input(*screen, fps), nullptr};
    }
};
}  // namespace

std::unique_ptr<ScreenBackend> make_x11_screen() {
    return std::make_unique<X11Screen>();
}

std::vector<std::string> x11grab_input(const ScreenInfo& screen, int fps) {
    // 4:2:0 video needs even sides; a stray last row or column is left out.
    int width = screen.size.width & ~1, height = screen.size.height & ~1;
    // Grabbed frames wait here while the encoder is busy, instead of being
    // dropped: up to about 256 MiB of them, at least 8 and at most 64.
    long long frame_bytes = std::max(1LL, static_cast<long long>(width) * height * 4);
    long long queue = std::clamp(256LL * 1024 * 1024 / frame_bytes, 8LL, 64LL);
    return {"-thread_queue_size",
            std::to_string(queue),
            "-f",
            "x11grab",
            "-framerate",
            std::to_string(fps),
            "-video_size",
            std::to_string(width) + "x" + std::to_string(height),
            "-i",
            screen.display};
}
