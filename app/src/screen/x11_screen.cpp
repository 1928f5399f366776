#include "screen/x11_screen.h"

#include "fault.h"
#include "screen/screen_state_keeper.h"
#include "screen/screen_target.h"
#include "screen/x11_link.h"
#include "screen/x11_windows.h"

#include <xcb/randr.h>

#include <algorithm>
#include <cstdlib>

namespace {
std::string display_name() {
    const char* name = std::getenv("DISPLAY");
    return name ? name : "";
}

// The whole screen and its monitors, as the server says now. Hold the
// link's mutex.
ScreenInfo read_screen(X11Link& link, XClock::time_point deadline) {
    xcb_connection_t* c = link.connection(deadline);
    XPending pending{link, {}};
    unsigned int geometry_request = pending.add(xcb_get_geometry(c, link.root()).sequence);
    unsigned int monitors_request =
        link.has_randr_monitors() ? pending.add(xcb_randr_get_monitors(c, link.root(), 1).sequence) : 0;
    auto geometry = pending.take<xcb_get_geometry_reply_t>(geometry_request, deadline);
    XReply<xcb_randr_get_monitors_reply_t> monitors;
    if (monitors_request) monitors = pending.take<xcb_randr_get_monitors_reply_t>(monitors_request, deadline);
    if (!geometry) throw Fault{FaultKind::failed, "the X server did not tell the size of the screen"};
    ScreenInfo screen{link.display(), {geometry->width, geometry->height}, {}};
    if (monitors) {
        std::vector<std::pair<MonitorInfo, unsigned int>> named;
        for (auto m = xcb_randr_get_monitors_monitors_iterator(monitors.get()); m.rem;
             xcb_randr_monitor_info_next(&m)) {
            MonitorInfo monitor{
                {}, {m.data->x, m.data->y, m.data->width, m.data->height}, {m.data->width, m.data->height}};
            unsigned int name_request = m.data->name ? pending.add(xcb_get_atom_name(c, m.data->name).sequence) : 0;
            named.push_back({monitor, name_request});
        }
        for (auto& [monitor, name_request] : named) {
            if (!name_request) continue;
            auto name = pending.take<xcb_get_atom_name_reply_t>(name_request, deadline);
            if (name)
                monitor.name.assign(xcb_get_atom_name_name(name.get()), xcb_get_atom_name_name_length(name.get()));
        }
        for (auto& entry : named) {
            // Monitors that lie off the screen (a server's mistake) would
            // give pictures of nothing.
            FrameRegion shown = overlap(entry.first.area, {0, 0, screen.size.width, screen.size.height});
            if (shown.width > 0 && shown.height > 0) screen.monitors.push_back(entry.first);
        }
    }
    // Without RandR's monitors the screen is one monitor.
    if (screen.monitors.empty()) {
        screen.monitors.push_back({"", {0, 0, screen.size.width, screen.size.height}, screen.size});
    }
    sort_monitors(screen.monitors);
    return screen;
}

class X11Screen : public ScreenBackend {
public:
    explicit X11Screen(X11Limits limits)
        : link_(display_name()),
          limits_(limits),
          keeper_([this] { return look(); }, [this](std::chrono::milliseconds silent) { return silence(silent); },
                  limits.keeper) {}

    const char* name() const override { return "x11"; }

    ScreenState state() override { return keeper_.current(limits_.first_look); }

    std::vector<WindowInfo> windows() override {
        auto deadline = XClock::now() + limits_.call;
        auto lock = hold(deadline);
        ScreenInfo screen = read_screen(link_, deadline);
        std::vector<WindowInfo> windows = read_x_windows(link_, deadline);
        keeper_.seen({screen, ""});
        for (WindowInfo& w : windows) w.monitor = monitor_showing(w.area, screen.monitors);
        return windows;
    }

    void capture(const ScreenRequest& request, const ScreenShotUse& use) override {
        auto deadline = XClock::now() + limits_.call;
        auto lock = hold(deadline);
        ScreenInfo screen;
        try {
            screen = read_screen(link_, deadline);
        } catch (const Fault& fault) {
            if (fault.kind == FaultKind::unavailable) keeper_.seen({std::nullopt, fault.message});
            throw;
        }
        keeper_.seen({screen, ""});
        FrameRegion whole{0, 0, screen.size.width, screen.size.height};
        FrameRegion target = whole;  // in root-window pixels
        switch (request.target.kind) {
            case ScreenTarget::Kind::whole:
                break;
            case ScreenTarget::Kind::monitor: {
                int count = static_cast<int>(screen.monitors.size());
                if (request.target.monitor < 1 || request.target.monitor > count) {
                    throw Fault{FaultKind::not_found, "no monitor " + std::to_string(request.target.monitor) +
                                                          ": the screen has " + std::to_string(count) +
                                                          (count == 1 ? " monitor" : " monitors")};
                }
                target = screen.monitors[static_cast<std::size_t>(request.target.monitor - 1)].area;
                break;
            }
            case ScreenTarget::Kind::window:
                target = window_area(request.target.window, deadline);
                break;
        }
        FrameSize source{target.width, target.height};
        std::optional<FrameRegion> part;
        if (request.region) part = clip_region(*request.region, source, request.device);
        FrameRegion asked = part.value_or(FrameRegion{0, 0, source.width, source.height});
        // A window partly off the screen: what is on it.
        FrameRegion shown = overlap({target.x + asked.x, target.y + asked.y, asked.width, asked.height}, whole);
        if (shown.width <= 0 || shown.height <= 0) {
            throw Fault{FaultKind::unavailable,
                        request.device + " is not on the screen now (it lies beyond its edges); move it into view"};
        }
        FrameRegion relative{shown.x - target.x, shown.y - target.y, shown.width, shown.height};
        if (relative != FrameRegion{0, 0, source.width, source.height}) part = relative;
        PixelView pixels = link_.grab(shown, deadline);
        use(ScreenShot{source, part, pixels});
    }

    RecordingInput start_recording(const std::filesystem::path&, int fps) override {
        auto deadline = XClock::now() + limits_.call;
        ScreenInfo screen;
        try {
            auto lock = hold(deadline);
            screen = read_screen(link_, deadline);
        } catch (const Fault& fault) {
            if (fault.kind != FaultKind::unavailable) throw;
            throw Fault{FaultKind::unavailable,
                        "no screen to record: there is no X display (DISPLAY is not set or cannot be opened)"};
        }
        return {x11grab_input(screen, fps), nullptr};
    }

private:
    std::unique_lock<TimedMutex> hold(XClock::time_point deadline) {
        std::unique_lock lock(link_.mutex, std::defer_lock);
        if (!lock.try_lock_until(deadline)) {
            auto waiting = link_.waiting_since();
            auto silent = waiting ? std::chrono::duration_cast<std::chrono::milliseconds>(XClock::now() - *waiting)
                                  : limits_.call;
            throw Fault{FaultKind::timed_out, x_display_silent_text(link_.display(), silent)};
        }
        return lock;
    }

    // Runs on the keeper's thread. A display busy with a picture has nothing
    // new to tell, unless that picture has waited too long for it.
    std::optional<ScreenState> look() {
        std::unique_lock lock(link_.mutex, std::defer_lock);
        if (!lock.try_lock_for(limits_.keeper.patience)) {
            auto waiting = link_.waiting_since();
            if (!waiting) return std::nullopt;
            auto silent = std::chrono::duration_cast<std::chrono::milliseconds>(XClock::now() - *waiting);
            if (silent < limits_.keeper.stalled) return std::nullopt;
            return ScreenState{std::nullopt, x_display_silent_text(link_.display(), silent)};
        }
        try {
            return ScreenState{read_screen(link_, XClock::now() + limits_.look), ""};
        } catch (const Fault& fault) {
            return ScreenState{std::nullopt, fault.message};
        }
    }

    // How long the server has been silent: since the request it left
    // unanswered, at least as long as the look that waits for it.
    std::string silence(std::chrono::milliseconds look_waited) {
        auto since = link_.waiting_since();
        auto silent =
            since ? std::chrono::duration_cast<std::chrono::milliseconds>(XClock::now() - *since) : look_waited;
        return x_display_silent_text(link_.display(), std::max(silent, look_waited));
    }

    FrameRegion window_area(const std::string& id, XClock::time_point deadline) {
        auto window = parse_x_window_id(id);
        std::vector<WindowInfo> found;
        if (window) found = read_x_windows(link_, deadline, *window);
        if (found.empty()) {
            throw Fault{FaultKind::not_found, "no window " + id +
                                                  " is shown on the screen; list the windows (GET /api/windows) "
                                                  "for their ids"};
        }
        return found.front().area;
    }

    X11Link link_;
    X11Limits limits_;
    ScreenStateKeeper keeper_;
};
}  // namespace

std::unique_ptr<ScreenBackend> make_x11_screen(X11Limits limits) {
    return std::make_unique<X11Screen>(limits);
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
