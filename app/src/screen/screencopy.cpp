#include "screen/screencopy.h"

#include "fault.h"

#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

#include "wlr-screencopy-unstable-v1-client-protocol.h"
#include "xdg-output-unstable-v1-client-protocol.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

namespace {
using Clock = std::chrono::steady_clock;

// Handles events until `done()` holds or the deadline passes; false on a
// timeout or a broken connection.
template <class Done>
bool dispatch_until(wl_display* display, Done done, Clock::time_point deadline) {
    while (!done()) {
        if (wl_display_dispatch_pending(display) < 0) return false;
        if (done()) break;
        if (wl_display_prepare_read(display) != 0) continue;
        if (wl_display_flush(display) < 0 && errno != EAGAIN) {
            wl_display_cancel_read(display);
            return false;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        pollfd watch{wl_display_get_fd(display), POLLIN, 0};
        int ready = left > 0 ? poll(&watch, 1, static_cast<int>(left)) : 0;
        if (ready <= 0) {
            wl_display_cancel_read(display);
            if (ready < 0 && errno == EINTR) continue;
            return false;
        }
        if (wl_display_read_events(display) < 0) return false;
    }
    return true;
}

// wl_display_roundtrip with a deadline.
bool roundtrip(wl_display* display, Clock::time_point deadline) {
    bool done = false;
    wl_callback* callback = wl_display_sync(display);
    static const wl_callback_listener listener = {
        [](void* data, wl_callback*, uint32_t) { *static_cast<bool*>(data) = true; }};
    wl_callback_add_listener(callback, &listener, &done);
    auto answered = [&] { return done; };
    bool ok = dispatch_until(display, answered, deadline);
    wl_callback_destroy(callback);
    return ok;
}

std::optional<PixelLayout> layout_of(uint32_t format) {
    // wl_shm formats name the bits of a little-endian 32-bit word, from the
    // top: XRGB8888 is the bytes B, G, R, X in memory.
    switch (format) {
        case WL_SHM_FORMAT_XRGB8888:
        case WL_SHM_FORMAT_ARGB8888:
            return bgrx_layout;
        case WL_SHM_FORMAT_XBGR8888:
        case WL_SHM_FORMAT_ABGR8888:
            return rgbx_layout;
        case WL_SHM_FORMAT_RGBX8888:
        case WL_SHM_FORMAT_RGBA8888:
            return xbgr_layout;
        case WL_SHM_FORMAT_BGRX8888:
        case WL_SHM_FORMAT_BGRA8888:
            return xrgb_layout;
        default:
            return std::nullopt;
    }
}

// What the compositor says about one copy.
struct FrameState {
    bool have_buffer = false;
    bool buffer_done = false;  // all buffer offers made (version 3), or the shm offer (older)
    uint32_t format = 0;
    int width = 0, height = 0, stride = 0;
    bool y_invert = false;
    bool ready = false;
    bool failed = false;
};

void on_buffer(void* data, zwlr_screencopy_frame_v1*, uint32_t format, uint32_t width, uint32_t height,
               uint32_t stride) {
    auto* s = static_cast<FrameState*>(data);
    s->have_buffer = true;
    s->format = format;
    s->width = static_cast<int>(width);
    s->height = static_cast<int>(height);
    s->stride = static_cast<int>(stride);
}
void on_flags(void* data, zwlr_screencopy_frame_v1*, uint32_t flags) {
    static_cast<FrameState*>(data)->y_invert = flags & ZWLR_SCREENCOPY_FRAME_V1_FLAGS_Y_INVERT;
}
void on_ready(void* data, zwlr_screencopy_frame_v1*, uint32_t, uint32_t, uint32_t) {
    static_cast<FrameState*>(data)->ready = true;
}
void on_failed(void* data, zwlr_screencopy_frame_v1*) {
    static_cast<FrameState*>(data)->failed = true;
}
void on_damage(void*, zwlr_screencopy_frame_v1*, uint32_t, uint32_t, uint32_t, uint32_t) {}
void on_dmabuf(void*, zwlr_screencopy_frame_v1*, uint32_t, uint32_t, uint32_t) {}
void on_buffer_done(void* data, zwlr_screencopy_frame_v1*) {
    static_cast<FrameState*>(data)->buffer_done = true;
}
const zwlr_screencopy_frame_v1_listener frame_listener = {on_buffer, on_flags,  on_ready,      on_failed,
                                                          on_damage, on_dmabuf, on_buffer_done};

// Shared memory the compositor copies into, kept for the next copy of the
// same shape.
struct ShmBuffer {
    wl_buffer* buffer = nullptr;
    void* data = MAP_FAILED;
    std::size_t size = 0;
    uint32_t format = 0;
    int width = 0, height = 0, stride = 0;

    void release() {
        if (buffer) wl_buffer_destroy(buffer);
        if (data != MAP_FAILED) munmap(data, size);
        buffer = nullptr;
        data = MAP_FAILED;
    }
};

// One output and what the compositor says about it.
struct Output {
    uint32_t global = 0;  // its name in the registry
    wl_output* output = nullptr;
    zxdg_output_v1* xdg = nullptr;
    std::string name;
    FrameRegion logical;  // from xdg-output; else the position and mode below
    int x = 0, y = 0;     // wl_output's position in the compositor's space
    FrameSize mode;       // the current mode, in the output's own pixels
    int32_t scale = 1;
    bool logical_known = false;
    ShmBuffer buffer;

    ~Output() {
        buffer.release();
        if (xdg) zxdg_output_v1_destroy(xdg);
        if (output) wl_output_destroy(output);
    }
};

void on_output_geometry(void* data, wl_output*, int32_t x, int32_t y, int32_t, int32_t, int32_t, const char*,
                        const char*, int32_t) {
    auto* o = static_cast<Output*>(data);
    o->x = x;
    o->y = y;
}
void on_output_mode(void* data, wl_output*, uint32_t flags, int32_t width, int32_t height, int32_t) {
    if (flags & WL_OUTPUT_MODE_CURRENT) static_cast<Output*>(data)->mode = {width, height};
}
void on_output_done(void*, wl_output*) {}
void on_output_scale(void* data, wl_output*, int32_t factor) {
    static_cast<Output*>(data)->scale = factor > 0 ? factor : 1;
}
const wl_output_listener output_listener = {on_output_geometry, on_output_mode, on_output_done,
                                            on_output_scale,    nullptr,        nullptr};

void on_logical_position(void* data, zxdg_output_v1*, int32_t x, int32_t y) {
    auto* o = static_cast<Output*>(data);
    o->logical.x = x;
    o->logical.y = y;
    o->logical_known = true;
}
void on_logical_size(void* data, zxdg_output_v1*, int32_t width, int32_t height) {
    auto* o = static_cast<Output*>(data);
    o->logical.width = width;
    o->logical.height = height;
    o->logical_known = true;
}
void on_xdg_done(void*, zxdg_output_v1*) {}
void on_xdg_name(void* data, zxdg_output_v1*, const char* name) {
    static_cast<Output*>(data)->name = name ? name : "";
}
void on_xdg_description(void*, zxdg_output_v1*, const char*) {}
const zxdg_output_v1_listener xdg_output_listener = {on_logical_position, on_logical_size, on_xdg_done, on_xdg_name,
                                                     on_xdg_description};
}  // namespace

struct ScreencopyConnection {
    wl_display* display = nullptr;
    wl_registry* registry = nullptr;
    wl_shm* shm = nullptr;
    zwlr_screencopy_manager_v1* manager = nullptr;
    uint32_t manager_version = 0;
    zxdg_output_manager_v1* xdg_manager = nullptr;
    std::vector<std::unique_ptr<Output>> outputs;  // in the order the compositor lists them
    std::chrono::milliseconds limit{0};

    ~ScreencopyConnection() {
        outputs.clear();
        if (xdg_manager) zxdg_output_manager_v1_destroy(xdg_manager);
        if (manager) zwlr_screencopy_manager_v1_destroy(manager);
        if (shm) wl_shm_destroy(shm);
        if (registry) wl_registry_destroy(registry);
        if (display) wl_display_disconnect(display);
    }

    void describe(Output& o) {
        if (xdg_manager && !o.xdg) {
            o.xdg = zxdg_output_manager_v1_get_xdg_output(xdg_manager, o.output);
            zxdg_output_v1_add_listener(o.xdg, &xdg_output_listener, &o);
        }
    }

    static void on_global(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t version) {
        auto* c = static_cast<ScreencopyConnection*>(data);
        if (std::strcmp(interface, wl_shm_interface.name) == 0 && !c->shm) {
            c->shm = static_cast<wl_shm*>(wl_registry_bind(registry, name, &wl_shm_interface, 1));
        } else if (std::strcmp(interface, zwlr_screencopy_manager_v1_interface.name) == 0 && !c->manager) {
            c->manager_version = std::min(version, 3u);
            c->manager = static_cast<zwlr_screencopy_manager_v1*>(
                wl_registry_bind(registry, name, &zwlr_screencopy_manager_v1_interface, c->manager_version));
        } else if (std::strcmp(interface, zxdg_output_manager_v1_interface.name) == 0 && !c->xdg_manager &&
                   version >= 2) {
            // Version 2 brings the outputs' names.
            c->xdg_manager = static_cast<zxdg_output_manager_v1*>(
                wl_registry_bind(registry, name, &zxdg_output_manager_v1_interface, std::min(version, 3u)));
            for (auto& o : c->outputs) c->describe(*o);
        } else if (std::strcmp(interface, wl_output_interface.name) == 0) {
            auto o = std::make_unique<Output>();
            o->global = name;
            o->output =
                static_cast<wl_output*>(wl_registry_bind(registry, name, &wl_output_interface, std::min(version, 2u)));
            wl_output_add_listener(o->output, &output_listener, o.get());
            c->describe(*o);
            c->outputs.push_back(std::move(o));
        }
    }
    static void on_global_remove(void* data, wl_registry*, uint32_t name) {
        auto* c = static_cast<ScreencopyConnection*>(data);
        std::erase_if(c->outputs, [&](const std::unique_ptr<Output>& o) { return o->global == name; });
    }

    // Connects and learns the globals, the outputs and their names; false
    // when the display cannot be reached.
    bool connect(std::chrono::milliseconds wait) {
        limit = wait;
        display = wl_display_connect(nullptr);
        if (!display) return false;
        registry = wl_display_get_registry(display);
        static const wl_registry_listener listener = {on_global, on_global_remove};
        wl_registry_add_listener(registry, &listener, this);
        // The second round trip brings the outputs' modes, the third what
        // xdg-output says about them.
        auto deadline = Clock::now() + limit;
        return roundtrip(display, deadline) && roundtrip(display, deadline) && roundtrip(display, deadline);
    }

    bool ensure_buffer(ShmBuffer& b, const FrameState& s) {
        if (b.buffer && b.format == s.format && b.width == s.width && b.height == s.height && b.stride == s.stride) {
            return true;
        }
        b.release();
        b.size = static_cast<std::size_t>(s.stride) * static_cast<std::size_t>(s.height);
        int fd = memfd_create("vistrel-screencopy", MFD_CLOEXEC);
        if (fd < 0) return false;
        if (ftruncate(fd, static_cast<off_t>(b.size)) != 0) {
            close(fd);
            return false;
        }
        b.data = mmap(nullptr, b.size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
        if (b.data == MAP_FAILED) {
            close(fd);
            return false;
        }
        wl_shm_pool* pool = wl_shm_create_pool(shm, fd, static_cast<int32_t>(b.size));
        b.buffer = wl_shm_pool_create_buffer(pool, 0, s.width, s.height, s.stride, s.format);
        wl_shm_pool_destroy(pool);
        close(fd);
        b.format = s.format;
        b.width = s.width;
        b.height = s.height;
        b.stride = s.stride;
        return true;
    }
};

std::string wayland_display_name() {
    const char* name = std::getenv("WAYLAND_DISPLAY");
    return name && name[0] ? name : "wayland-0";
}

bool compositor_offers_screencopy() {
    ScreencopyConnection connection;
    return connection.connect(std::chrono::seconds(2)) && connection.manager && !connection.outputs.empty() &&
           connection.shm;
}

Screencopy::Screencopy(std::chrono::milliseconds limit) : connection_(std::make_unique<ScreencopyConnection>()) {
    ScreencopyConnection& c = *connection_;
    if (!c.connect(limit)) {
        throw Fault{FaultKind::unavailable, "no screen: cannot reach the Wayland compositor at " +
                                                wayland_display_name() +
                                                "; run vistrel-app inside the desktop session"};
    }
    if (!c.manager) {
        throw Fault{FaultKind::unavailable,
                    "no screen: the Wayland compositor at " + wayland_display_name() +
                        " does not offer wlr-screencopy; start vistrel-app with --screen portal to "
                        "capture through xdg-desktop-portal instead"};
    }
    if (c.outputs.empty() || !c.shm) {
        throw Fault{FaultKind::unavailable, "no screen: the Wayland compositor shows no output"};
    }
}

Screencopy::~Screencopy() = default;

void Screencopy::update(Clock::time_point deadline) {
    // Outputs plugged in or out, and new modes, arrive as events; a round
    // trip reads them (a new output's details need a second one).
    ScreencopyConnection& c = *connection_;
    std::size_t known = c.outputs.size();
    if (!roundtrip(c.display, deadline) || (c.outputs.size() != known && !roundtrip(c.display, deadline))) {
        throw Fault{wl_display_get_error(c.display) ? FaultKind::unavailable : FaultKind::timed_out,
                    wl_display_get_error(c.display)
                        ? "lost the connection to the Wayland compositor at " + wayland_display_name()
                        : "the Wayland compositor at " + wayland_display_name() + " does not answer"};
    }
}

bool Screencopy::broken() const {
    return wl_display_get_error(connection_->display) != 0;
}

std::vector<OutputInfo> Screencopy::outputs() const {
    std::vector<OutputInfo> list;
    for (const auto& o : connection_->outputs) {
        FrameRegion logical = o->logical;
        if (!o->logical_known || logical.width <= 0 || logical.height <= 0) {
            logical = {o->x, o->y, o->mode.width / o->scale, o->mode.height / o->scale};
        }
        list.push_back({o->name, logical, o->mode});
    }
    return list;
}

PixelView Screencopy::copy_output(std::size_t index, Clock::time_point deadline) {
    ScreencopyConnection& c = *connection_;
    if (index >= c.outputs.size()) throw Fault{FaultKind::not_found, "the Wayland compositor has no such output"};
    Output& output = *c.outputs[index];
    FrameState s;
    // The cursor is drawn in, as in a recording of the X display.
    zwlr_screencopy_frame_v1* copy = zwlr_screencopy_manager_v1_capture_output(c.manager, 1, output.output);
    zwlr_screencopy_frame_v1_add_listener(copy, &frame_listener, &s);
    struct Destroy {
        zwlr_screencopy_frame_v1* f;
        ~Destroy() { zwlr_screencopy_frame_v1_destroy(f); }
    } destroy{copy};

    // Before version 3 the shared-memory offer is the only one.
    auto offered = [&] { return s.failed || (c.manager_version >= 3 ? s.buffer_done : s.have_buffer); };
    if (!dispatch_until(c.display, offered, deadline)) {
        throw Fault{FaultKind::failed, "the Wayland compositor did not answer the request for a screen copy"};
    }
    if (s.failed || !s.have_buffer) throw Fault{FaultKind::failed, "the Wayland compositor refused to copy the screen"};
    auto layout = layout_of(s.format);
    if (!layout) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "0x%08x", s.format);
        throw Fault{FaultKind::failed, std::string("the Wayland compositor offers the screen only in pixel format ") +
                                           hex + ", which vistrel-app cannot read"};
    }
    if (s.width <= 0 || s.height <= 0 || s.stride < s.width * 4) {
        throw Fault{FaultKind::failed, "the Wayland compositor offered a screen copy of an impossible shape"};
    }
    if (!c.ensure_buffer(output.buffer, s)) {
        throw Fault{FaultKind::failed, "cannot allocate memory for a copy of the screen"};
    }

    zwlr_screencopy_frame_v1_copy(copy, output.buffer.buffer);
    auto finished = [&] { return s.ready || s.failed; };
    if (!dispatch_until(c.display, finished, deadline)) {
        throw Fault{FaultKind::failed, "the Wayland compositor did not finish a copy of the screen"};
    }
    if (s.failed) throw Fault{FaultKind::failed, "the Wayland compositor refused to copy the screen"};
    return {static_cast<const std::uint8_t*>(output.buffer.data), s.width, s.height, s.stride, s.y_invert, *layout};
}

void Screencopy::copy(RawFrame& frame) {
    PixelView view = copy_output(0, Clock::now() + connection_->limit);
    frame.width = view.width;
    frame.height = view.height;
    frame.stride = view.stride;
    frame.bottom_up = view.bottom_up;
    frame.layout = view.layout;
    frame.bytes.assign(view.data, view.data + static_cast<std::size_t>(view.stride) * view.height);
}
