#include "screen/wlroots_screen.h"

#include "fault.h"
#include "screen/frame_feed.h"
#include "screen/screen_state_keeper.h"
#include "screen/screen_target.h"
#include "screen/screencopy.h"
#include "timed_mutex.h"

#include <algorithm>
#include <cstring>
#include <mutex>

namespace {
using Clock = std::chrono::steady_clock;

std::string silence_text(std::chrono::milliseconds silent) {
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f s", static_cast<double>(silent.count()) / 1000);
    return "the Wayland compositor at " + wayland_display_name() + " does not answer (nothing for " + seconds +
           "); it may be stopped or hung";
}

// The desktop as the outputs make it: the whole screen spans them all, each
// monitor is one output, placed as the compositor places it.
ScreenInfo screen_of(const std::vector<OutputInfo>& outputs) {
    ScreenInfo screen{wayland_display_name(), {0, 0}, {}};
    if (outputs.empty()) return screen;
    int left = outputs.front().logical.x, top = outputs.front().logical.y;
    int right = left, bottom = top;
    for (const OutputInfo& o : outputs) {
        left = std::min(left, o.logical.x);
        top = std::min(top, o.logical.y);
        right = std::max(right, o.logical.x + o.logical.width);
        bottom = std::max(bottom, o.logical.y + o.logical.height);
    }
    screen.size = {right - left, bottom - top};
    for (const OutputInfo& o : outputs) {
        screen.monitors.push_back(
            {o.name, {o.logical.x - left, o.logical.y - top, o.logical.width, o.logical.height}, o.mode});
    }
    sort_monitors(screen.monitors);
    return screen;
}

// Where output `o` went in the sorted monitors.
std::size_t output_of_monitor(const std::vector<OutputInfo>& outputs, const ScreenInfo& screen, int monitor) {
    const MonitorInfo& wanted = screen.monitors[static_cast<std::size_t>(monitor - 1)];
    for (std::size_t i = 0; i < outputs.size(); ++i) {
        if (outputs[i].name == wanted.name && outputs[i].mode == wanted.size &&
            outputs[i].logical.width == wanted.area.width && outputs[i].logical.height == wanted.area.height) {
            return i;
        }
    }
    return 0;
}

// Copies `view` into `canvas` (BGRX, `canvas_width` wide) at `area`, scaled
// to the area's size when the output's pixels are not the desktop's.
void paint(std::vector<std::uint8_t>& canvas, int canvas_width, const FrameRegion& area, const PixelView& view) {
    bool same = view.width == area.width && view.height == area.height && same_layout(view.layout, bgrx_layout);
    for (int y = 0; y < area.height; ++y) {
        std::uint8_t* out = &canvas[(static_cast<std::size_t>(area.y + y) * canvas_width + area.x) * 4];
        int source_y =
            std::min(view.height - 1, static_cast<int>(static_cast<long long>(y) * view.height / area.height));
        const std::uint8_t* row = pixel_row(view, source_y);
        if (same) {
            std::memcpy(out, row, static_cast<std::size_t>(area.width) * 4);
            continue;
        }
        for (int x = 0; x < area.width; ++x, out += 4) {
            int source_x =
                std::min(view.width - 1, static_cast<int>(static_cast<long long>(x) * view.width / area.width));
            const std::uint8_t* in = row + static_cast<std::size_t>(source_x) * 4;
            out[0] = in[view.layout.blue];
            out[1] = in[view.layout.green];
            out[2] = in[view.layout.red];
            out[3] = 0;
        }
    }
}

class WlrootsScreen : public ScreenBackend {
public:
    WlrootsScreen() : keeper_([this] { return look(); }, silence_text) {}

    const char* name() const override { return "wlroots"; }

    ScreenState state() override { return keeper_.current(std::chrono::seconds(2)); }

    std::vector<WindowInfo> windows() override {
        throw Fault{FaultKind::unsupported,
                    "this Wayland desktop does not let programs list or capture single windows (wlr-screencopy "
                    "shows whole outputs); capture a monitor (screen:N) or a region (x, y, w, h) instead"};
    }

    void capture(const ScreenRequest& request, const ScreenShotUse& use) override {
        if (request.target.kind == ScreenTarget::Kind::window) windows();
        auto deadline = Clock::now() + call_limit;
        std::unique_lock lock(mutex_, std::defer_lock);
        if (!lock.try_lock_until(deadline)) throw Fault{FaultKind::timed_out, silence_text(call_limit)};
        Screencopy& screencopy = connection(deadline);
        std::vector<OutputInfo> outputs = screencopy.outputs();
        ScreenInfo screen = screen_of(outputs);
        keeper_.seen({screen, ""});

        PixelView whole;
        FrameSize source = screen.size;
        if (request.target.kind == ScreenTarget::Kind::monitor) {
            int count = static_cast<int>(screen.monitors.size());
            if (request.target.monitor < 1 || request.target.monitor > count) {
                throw Fault{FaultKind::not_found, "no monitor " + std::to_string(request.target.monitor) +
                                                      ": the desktop has " + std::to_string(count) +
                                                      (count == 1 ? " output" : " outputs")};
            }
            whole = screencopy.copy_output(output_of_monitor(outputs, screen, request.target.monitor), deadline);
            source = {whole.width, whole.height};
        } else if (outputs.size() == 1) {
            whole = screencopy.copy_output(0, deadline);
            source = {whole.width, whole.height};
        } else {
            whole = composite(screencopy, outputs, screen, deadline);
        }
        std::optional<FrameRegion> part;
        PixelView pixels = whole;
        if (request.region) {
            part = clip_region(*request.region, source, request.device);
            pixels = crop_view(whole, *part);
        }
        use(ScreenShot{source, part, pixels});
    }

    RecordingInput start_recording(const std::filesystem::path& scratch, int fps) override {
        auto screencopy = std::make_shared<Screencopy>();
        RawFrame first;
        screencopy->copy(first);
        // 4:2:0 video needs even sides; a stray last row or column is left out.
        int width = first.width & ~1, height = first.height & ~1;
        std::filesystem::path pipe = scratch / "screen.raw";
        make_pipe(pipe);
        // Every tick takes a fresh copy; a refusal midway ends the feed and
        // is reported once ffmpeg is done.
        FrameSource source = [screencopy](RawFrame& frame, std::string& problem) {
            try {
                screencopy->copy(frame);
                return true;
            } catch (const Fault& fault) {
                problem = fault.message;
                return false;
            }
        };
        RecordingInput input;
        input.ffmpeg_input = raw_video_input(first.layout, width, height, fps, pipe.string());
        input.feed = std::make_unique<FrameFeed>(pipe, std::move(source), width, height, fps);
        return input;
    }

private:
    static constexpr std::chrono::milliseconds call_limit{5000};
    static constexpr std::chrono::milliseconds look_limit{1000};

    // The kept connection, made again when it dropped. Hold mutex_.
    Screencopy& connection(Clock::time_point deadline) {
        if (screencopy_ && screencopy_->broken()) screencopy_.reset();
        if (!screencopy_) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            screencopy_ = std::make_unique<Screencopy>(std::max(left, std::chrono::milliseconds(1)));
        } else {
            try {
                screencopy_->update(deadline);
            } catch (const Fault&) {
                screencopy_.reset();
                throw;
            }
        }
        return *screencopy_;
    }

    std::optional<ScreenState> look() {
        std::unique_lock lock(mutex_, std::defer_lock);
        // Busy with a picture: it tells what it sees.
        if (!lock.try_lock_for(std::chrono::milliseconds(40))) return std::nullopt;
        try {
            Screencopy& screencopy = connection(Clock::now() + look_limit);
            return ScreenState{screen_of(screencopy.outputs()), ""};
        } catch (const Fault& fault) {
            return ScreenState{std::nullopt, fault.message};
        }
    }

    PixelView composite(Screencopy& screencopy, const std::vector<OutputInfo>& outputs, const ScreenInfo& screen,
                        Clock::time_point deadline) {
        int width = screen.size.width, height = screen.size.height;
        canvas_.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 4, 0);
        int left = width, top = height;
        for (const OutputInfo& o : outputs) {
            left = std::min(left, o.logical.x);
            top = std::min(top, o.logical.y);
        }
        for (std::size_t i = 0; i < outputs.size(); ++i) {
            const FrameRegion& l = outputs[i].logical;
            paint(canvas_, width, {l.x - left, l.y - top, l.width, l.height}, screencopy.copy_output(i, deadline));
        }
        return {canvas_.data(), width, height, width * 4, false, bgrx_layout};
    }

    TimedMutex mutex_;
    std::unique_ptr<Screencopy> screencopy_;
    std::vector<std::uint8_t> canvas_;  // the desktop of several outputs, kept between pictures
    ScreenStateKeeper keeper_;
};
}  // namespace

std::unique_ptr<ScreenBackend> make_wlroots_screen() {
    return std::make_unique<WlrootsScreen>();
}
