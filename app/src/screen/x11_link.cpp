#include "screen/x11_link.h"

#include "fault.h"
#include "platform/descriptors.h"

#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>
#include <xcb/randr.h>
#include <xcb/shm.h>
#include <xcb/xcbext.h>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <thread>
#include <vector>

namespace {
// A connection being opened, on a thread of its own: xcb_connect waits for
// the server's greeting without a deadline, and a stopped server never sends
// it. Whoever waits for the opening gives up at its own deadline; the thread
// finishes when the server answers or goes away.
struct Opening {
    std::mutex mutex;
    std::condition_variable done_changed;
    bool done = false;
    bool abandoned = false;  // nobody will take the connection: close it
    xcb_connection_t* connection = nullptr;
    int screen = 0;
    bool randr_monitors = false;
    bool shm = false;
};

// Runs on the opening's thread, where blocking calls are harmless: the
// extensions' details are read here, so that later requests never make XCB
// wait for them without a deadline.
void open_connection(const std::shared_ptr<Opening>& opening, const std::string& display) {
    int screen = 0;
    xcb_connection_t* c = xcb_connect(display.c_str(), &screen);
    bool randr_monitors = false, shm = false;
    if (!xcb_connection_has_error(c)) {
        xcb_prefetch_extension_data(c, &xcb_randr_id);
        xcb_prefetch_extension_data(c, &xcb_shm_id);
        const xcb_query_extension_reply_t* randr = xcb_get_extension_data(c, &xcb_randr_id);
        if (randr && randr->present) {
            auto* version = xcb_randr_query_version_reply(c, xcb_randr_query_version(c, 1, 5), nullptr);
            randr_monitors = version && (version->major_version > 1 || version->minor_version >= 5);
            std::free(version);
        }
        const xcb_query_extension_reply_t* mit_shm = xcb_get_extension_data(c, &xcb_shm_id);
        if (mit_shm && mit_shm->present) {
            auto* version = xcb_shm_query_version_reply(c, xcb_shm_query_version(c), nullptr);
            shm = version && (version->major_version > 1 || version->minor_version >= 2);
            std::free(version);
        }
    }
    std::lock_guard lock(opening->mutex);
    if (opening->abandoned) {
        xcb_disconnect(c);
    } else {
        opening->connection = c;
        opening->screen = screen;
        opening->randr_monitors = randr_monitors;
        opening->shm = shm;
    }
    opening->done = true;
    opening->done_changed.notify_all();
}

std::string seconds_text(std::chrono::milliseconds span) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f s", static_cast<double>(span.count()) / 1000);
    return text;
}

std::chrono::milliseconds since(XClock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(XClock::now() - start);
}

int shift_of(std::uint32_t mask) {
    int shift = 0;
    while (mask && !(mask & 1)) {
        mask >>= 1;
        ++shift;
    }
    return shift;
}

int bits_of(std::uint32_t mask) {
    mask >>= shift_of(mask);
    int bits = 0;
    while (mask & 1) {
        mask >>= 1;
        ++bits;
    }
    return bits;
}
}  // namespace

struct XConnectionState {
    xcb_connection_t* connection = nullptr;
    xcb_window_t root = 0;
    XPixelFormat format;
    int scanline_pad = 32;
    bool randr_monitors = false;
    bool shm = false;
    std::map<std::string, xcb_atom_t> atoms;
    std::shared_ptr<Opening> opening;
    // A request whose answer has not come: until it does, the server counts
    // as not answering, and nothing more is sent.
    std::optional<unsigned int> stalled;
    XClock::time_point stalled_since;

    // The memory the server copies pictures into, kept between pictures.
    void* shm_data = MAP_FAILED;
    std::size_t shm_size = 0;
    xcb_shm_seg_t shm_segment = 0;
    // The last picture that came over the socket instead, and pictures of
    // unusual pixel formats turned into four bytes a pixel.
    XReply<xcb_get_image_reply_t> image;
    std::vector<std::uint8_t> converted;

    void release_memory() {
        if (shm_data != MAP_FAILED) munmap(shm_data, shm_size);
        shm_data = MAP_FAILED;
        shm_size = 0;
        shm_segment = 0;
        image = {};
        converted.clear();
        converted.shrink_to_fit();
    }
};

X11Link::X11Link(std::string display) : display_(std::move(display)), state_(std::make_unique<XConnectionState>()) {}

X11Link::~X11Link() {
    if (state_->opening) {
        std::lock_guard lock(state_->opening->mutex);
        state_->opening->abandoned = true;
        if (state_->opening->done && state_->opening->connection) xcb_disconnect(state_->opening->connection);
    }
    drop();
}

void X11Link::discard(unsigned int sequence) {
    if (state_->connection) xcb_discard_reply(state_->connection, sequence);
}

void X11Link::drop() {
    XConnectionState& s = *state_;
    s.release_memory();
    if (s.connection) xcb_disconnect(s.connection);
    s.connection = nullptr;
    s.atoms.clear();
    s.stalled.reset();
    stalled_since_ = 0;
}

std::string x_display_silent_text(const std::string& display, std::chrono::milliseconds silent_for) {
    return "the X display " + display + " does not answer (nothing for " + seconds_text(silent_for) +
           "); it may be stopped, swapping or hung";
}

xcb_connection_t* X11Link::connection(XClock::time_point deadline) {
    XConnectionState& s = *state_;
    if (display_.empty()) {
        throw Fault{FaultKind::unavailable, "no screen: DISPLAY is not set, so there is no X display to capture"};
    }
    if (s.connection) {
        // Reading what has come (events nobody asked for are dropped) finds a
        // server that has gone away, so that it is opened again at once.
        while (xcb_generic_event_t* event = xcb_poll_for_event(s.connection)) std::free(event);
        if (xcb_connection_has_error(s.connection)) drop();
    }
    if (!s.connection) {
        if (!s.opening) {
            s.opening = std::make_shared<Opening>();
            std::thread(open_connection, s.opening, display_).detach();
        }
        std::shared_ptr<Opening> opening = s.opening;
        std::unique_lock lock(opening->mutex);
        if (!opening->done) {
            waiting_since_ = XClock::now().time_since_epoch().count();
            bool done = opening->done_changed.wait_until(lock, deadline, [&] { return opening->done; });
            waiting_since_ = 0;
            if (!done) {
                throw Fault{FaultKind::timed_out, "the X display " + display_ +
                                                      " does not answer: it took the connection but has not "
                                                      "greeted it; it may be stopped, swapping or hung"};
            }
        }
        s.opening.reset();
        xcb_connection_t* c = opening->connection;
        opening->connection = nullptr;
        if (!c || xcb_connection_has_error(c)) {
            if (c) xcb_disconnect(c);
            // xcb says only that it could not connect; an app that is out of
            // descriptors says so rather than that there is no display.
            if (out_of_descriptors()) {
                throw Fault{FaultKind::exhausted, "cannot open the X display " + display_ +
                                                      ": vistrel-app is out of file descriptors; try again shortly"};
            }
            throw Fault{FaultKind::unavailable, "no screen: cannot open the X display " + display_};
        }
        const xcb_setup_t* setup = xcb_get_setup(c);
        xcb_screen_iterator_t screens = xcb_setup_roots_iterator(setup);
        for (int i = 0; i < opening->screen && screens.rem; ++i) xcb_screen_next(&screens);
        if (!screens.rem) {
            xcb_disconnect(c);
            throw Fault{FaultKind::unavailable, "no screen: the X display " + display_ + " has no such screen"};
        }
        const xcb_screen_t* screen = screens.data;
        s.connection = c;
        s.root = screen->root;
        s.randr_monitors = opening->randr_monitors;
        s.shm = opening->shm;
        s.format = {};
        s.format.depth = screen->root_depth;
        s.format.msb_first = setup->image_byte_order == XCB_IMAGE_ORDER_MSB_FIRST;
        for (auto f = xcb_setup_pixmap_formats_iterator(setup); f.rem; xcb_format_next(&f)) {
            if (f.data->depth == screen->root_depth) {
                s.format.bits_per_pixel = f.data->bits_per_pixel;
                s.scanline_pad = f.data->scanline_pad;
            }
        }
        for (auto d = xcb_screen_allowed_depths_iterator(screen); d.rem; xcb_depth_next(&d)) {
            for (auto v = xcb_depth_visuals_iterator(d.data); v.rem; xcb_visualtype_next(&v)) {
                if (v.data->visual_id != screen->root_visual) continue;
                if (v.data->_class != XCB_VISUAL_CLASS_TRUE_COLOR && v.data->_class != XCB_VISUAL_CLASS_DIRECT_COLOR) {
                    drop();
                    throw Fault{FaultKind::failed,
                                "the X display uses a palette, which screen capture does not support"};
                }
                s.format.red_mask = v.data->red_mask;
                s.format.green_mask = v.data->green_mask;
                s.format.blue_mask = v.data->blue_mask;
            }
        }
    }
    if (s.stalled) {
        // Everything sent since is answered after it: once it comes, the
        // server is back.
        unsigned int marker = *s.stalled;
        s.stalled.reset();
        XClock::time_point stalled_since = s.stalled_since;
        try {
            xcb_generic_error_t* error = nullptr;
            std::free(wait(marker, deadline, &error));
            std::free(error);
            stalled_since_ = 0;
        } catch (const Fault& fault) {
            if (fault.kind == FaultKind::timed_out) {
                s.stalled = marker;
                s.stalled_since = stalled_since;
                stalled_since_ = stalled_since.time_since_epoch().count();
                throw Fault{FaultKind::timed_out, x_display_silent_text(display_, since(stalled_since))};
            }
            throw;
        }
    }
    return s.connection;
}

xcb_window_t X11Link::root() const {
    return state_->root;
}
const XPixelFormat& X11Link::pixel_format() const {
    return state_->format;
}
bool X11Link::has_randr_monitors() const {
    return state_->randr_monitors;
}
bool X11Link::has_shm() const {
    return state_->shm;
}

std::optional<XClock::time_point> X11Link::waiting_since() const {
    std::int64_t ticks = stalled_since_;
    if (!ticks) ticks = waiting_since_;
    if (!ticks) return std::nullopt;
    return XClock::time_point(XClock::duration(ticks));
}

void* X11Link::wait(unsigned int sequence, XClock::time_point deadline, xcb_generic_error_t** error) {
    XConnectionState& s = *state_;
    xcb_connection_t* c = s.connection;
    auto lost = [&] {
        drop();
        return Fault{FaultKind::unavailable, "lost the connection to the X display " + display_};
    };
    if (xcb_flush(c) <= 0) throw lost();
    // Events nobody asked for (errors of requests sent without a check) are
    // dropped, so that they do not pile up.
    while (xcb_generic_event_t* event = xcb_poll_for_event(c)) std::free(event);
    XClock::time_point started = XClock::now();
    waiting_since_ = started.time_since_epoch().count();
    struct NoLongerWaiting {
        std::atomic<std::int64_t>& since;
        ~NoLongerWaiting() { since = 0; }
    } no_longer_waiting{waiting_since_};
    for (;;) {
        void* reply = nullptr;
        *error = nullptr;
        if (xcb_poll_for_reply(c, sequence, &reply, error)) return reply;
        if (xcb_connection_has_error(c)) throw lost();
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - XClock::now()).count();
        if (left <= 0) {
            s.stalled = sequence;
            s.stalled_since = started;
            stalled_since_ = started.time_since_epoch().count();
            throw Fault{FaultKind::timed_out, x_display_silent_text(display_, since(started))};
        }
        pollfd watch{xcb_get_file_descriptor(c), POLLIN, 0};
        if (poll(&watch, 1, static_cast<int>(left)) < 0 && errno != EINTR) throw lost();
    }
}

xcb_atom_t X11Link::atom(const char* name, XClock::time_point deadline) {
    XConnectionState& s = *state_;
    auto known = s.atoms.find(name);
    if (known != s.atoms.end()) return known->second;
    auto cookie = xcb_intern_atom(s.connection, 1, static_cast<std::uint16_t>(std::strlen(name)), name);
    auto reply = this->reply<xcb_intern_atom_reply_t>(cookie.sequence, deadline);
    xcb_atom_t atom = reply ? reply->atom : static_cast<xcb_atom_t>(XCB_ATOM_NONE);
    // A name nobody has used yet may be used later (a window manager that
    // starts after the app): asked again next time.
    if (atom != XCB_ATOM_NONE) s.atoms[name] = atom;
    return atom;
}

namespace {
std::size_t row_bytes(int width, int bits_per_pixel, int scanline_pad) {
    std::size_t bits = static_cast<std::size_t>(width) * static_cast<std::size_t>(bits_per_pixel);
    std::size_t pad = scanline_pad > 0 ? static_cast<std::size_t>(scanline_pad) : 32;
    return (bits + pad - 1) / pad * pad / 8;
}

// Memory the server can write into: a memory file whose descriptor the
// server gets, so that nothing is left behind if the app dies.
bool attach_shared_memory(XConnectionState& s, std::size_t size) {
    if (s.shm_data != MAP_FAILED && s.shm_size >= size) return true;
    if (s.shm_data != MAP_FAILED) {
        xcb_shm_detach(s.connection, s.shm_segment);
        munmap(s.shm_data, s.shm_size);
        s.shm_data = MAP_FAILED;
    }
    int fd = memfd_create("vistrel-screen", MFD_CLOEXEC);
    if (fd < 0) return false;
    if (ftruncate(fd, static_cast<off_t>(size)) != 0) {
        close(fd);
        return false;
    }
    void* data = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (data == MAP_FAILED) {
        close(fd);
        return false;
    }
    s.shm_segment = xcb_generate_id(s.connection);
    // XCB closes the descriptor it sends.
    xcb_shm_attach_fd(s.connection, s.shm_segment, fd, 0);
    s.shm_data = data;
    s.shm_size = size;
    return true;
}

// Any other format (16-bit, 30-bit, the other byte order) becomes four bytes
// a pixel through its channel masks.
PixelView convert_pixels(XConnectionState& s, const std::uint8_t* data, std::size_t stride, int width, int height) {
    const XPixelFormat& f = s.format;
    s.converted.resize(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4);
    int bytes = f.bits_per_pixel / 8;
    struct Channel {
        int shift, bits;
    } channels[3] = {{shift_of(f.red_mask), bits_of(f.red_mask)},
                     {shift_of(f.green_mask), bits_of(f.green_mask)},
                     {shift_of(f.blue_mask), bits_of(f.blue_mask)}};
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* in = data + static_cast<std::size_t>(y) * stride;
        std::uint8_t* out = &s.converted[static_cast<std::size_t>(y) * width * 4];
        for (int x = 0; x < width; ++x, in += bytes, out += 4) {
            std::uint32_t pixel = 0;
            for (int i = 0; i < bytes; ++i) {
                int b = f.msb_first ? i : bytes - 1 - i;
                pixel = (pixel << 8) | in[b];
            }
            for (int c = 0; c < 3; ++c) {
                std::uint32_t max = channels[c].bits ? (1u << channels[c].bits) - 1 : 1;
                std::uint32_t level = (pixel >> channels[c].shift) & max;
                out[c] = static_cast<std::uint8_t>(channels[c].bits ? level * 255 / max : 0);
            }
            out[3] = 0;
        }
    }
    return {s.converted.data(), width, height, width * 4, false, rgbx_layout};
}

PixelView view_of_pixels(XConnectionState& s, const std::uint8_t* data, std::size_t stride, int width, int height) {
    const XPixelFormat& f = s.format;
    if (f.bits_per_pixel == 32) {
        bool rgb = f.red_mask == 0xff0000 && f.green_mask == 0xff00 && f.blue_mask == 0xff;
        bool bgr = f.red_mask == 0xff && f.green_mask == 0xff00 && f.blue_mask == 0xff0000;
        // The pixel is a 32-bit word in the server's byte order.
        if (rgb || bgr) {
            PixelLayout layout =
                rgb ? (f.msb_first ? xrgb_layout : bgrx_layout) : (f.msb_first ? xbgr_layout : rgbx_layout);
            return {data, width, height, static_cast<int>(stride), false, layout};
        }
    }
    if (f.bits_per_pixel != 8 && f.bits_per_pixel != 16 && f.bits_per_pixel != 24 && f.bits_per_pixel != 32) {
        throw Fault{FaultKind::failed, "the X display uses " + std::to_string(f.bits_per_pixel) +
                                           " bits a pixel, which screen capture does not support"};
    }
    return convert_pixels(s, data, stride, width, height);
}
}  // namespace

PixelView X11Link::grab(const FrameRegion& area, XClock::time_point deadline) {
    XConnectionState& s = *state_;
    xcb_connection_t* c = s.connection;
    std::size_t stride = row_bytes(area.width, s.format.bits_per_pixel, s.scanline_pad);
    std::size_t size = stride * static_cast<std::size_t>(area.height);
    if (s.shm && attach_shared_memory(s, size)) {
        auto cookie = xcb_shm_get_image(c, s.root, static_cast<std::int16_t>(area.x), static_cast<std::int16_t>(area.y),
                                        static_cast<std::uint16_t>(area.width), static_cast<std::uint16_t>(area.height),
                                        ~0u, XCB_IMAGE_FORMAT_Z_PIXMAP, s.shm_segment, 0);
        xcb_generic_error_t* error = nullptr;
        if (void* reply = wait(cookie.sequence, deadline, &error)) {
            std::free(reply);
            return view_of_pixels(s, static_cast<const std::uint8_t*>(s.shm_data), stride, area.width, area.height);
        }
        std::free(error);
        // A server that cannot reach the app's memory (over the network, in
        // another container): over the socket from now on.
        s.shm = false;
        if (s.shm_data != MAP_FAILED) munmap(s.shm_data, s.shm_size);
        s.shm_data = MAP_FAILED;
        s.shm_size = 0;
    }
    s.image = {};
    auto cookie = xcb_get_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, s.root, static_cast<std::int16_t>(area.x),
                                static_cast<std::int16_t>(area.y), static_cast<std::uint16_t>(area.width),
                                static_cast<std::uint16_t>(area.height), ~0u);
    s.image = reply<xcb_get_image_reply_t>(cookie.sequence, deadline);
    if (!s.image) throw Fault{FaultKind::failed, "the X server refused to hand over the screen"};
    int length = xcb_get_image_data_length(s.image.get());
    if (static_cast<std::size_t>(length) < size) {
        throw Fault{FaultKind::failed, "the X server handed over less of the screen than asked for"};
    }
    return view_of_pixels(s, xcb_get_image_data(s.image.get()), stride, area.width, area.height);
}
