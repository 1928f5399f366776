#include "screen/wlroots_screen.h"

#include "fault.h"
#include "screen/frame_feed.h"
#include "screen/screencopy.h"

namespace {
class WlrootsScreen : public ScreenBackend {
public:
    const char* name() const override { return "wlroots"; }

    std::optional<ScreenInfo> find() override {
        try {
            Screencopy screencopy(std::chrono::seconds(2));
            return ScreenInfo{wayland_display_name(), {screencopy.width(), screencopy.height()}};
        } catch (const Fault&) {
            return std::nullopt;
        }
    }

    std::string problem() override {
        try {
            Screencopy screencopy(std::chrono::seconds(2));
        } catch (const Fault& fault) {
            return fault.message;
        }
        return "";
    }

    Image capture() override {
        Screencopy screencopy;
        RawFrame frame;
        screencopy.copy(frame);
        return frame_to_image(frame);
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
};
}  // namespace

std::unique_ptr<ScreenBackend> make_wlroots_screen() {
    return std::make_unique<WlrootsScreen>();
}
