#pragma once
// What every screen backend offers: a description, a still, and the input of
// a recording.
#include "imaging/frame_size.h"
#include "imaging/image.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct ScreenInfo {
    std::string display;  // the session it shows: ":0", "wayland-1"
    FrameSize size;       // 0x0 when only a capture can tell (the portal)
};

// Whatever runs beside ffmpeg while it records (a feed of frames, a portal
// session); it stops when finished or destroyed.
class RecordingFeed {
public:
    virtual ~RecordingFeed() = default;
    // Stops, once ffmpeg has ended, and says why the recording went wrong on
    // this side, or nothing.
    virtual std::string finish() = 0;
};

// The part of the ffmpeg command line before the output options.
struct RecordingInput {
    std::vector<std::string> ffmpeg_input;  // "-f", "x11grab", ..., "-i", SOURCE
    std::unique_ptr<RecordingFeed> feed;    // null when ffmpeg reads the screen itself
};

class ScreenBackend {
public:
    virtual ~ScreenBackend() = default;
    virtual const char* name() const = 0;
    // Cheap: asked by /health and /devices.
    virtual std::optional<ScreenInfo> find() = 0;
    virtual std::string problem() = 0;
    virtual Image capture() = 0;
    virtual RecordingInput start_recording(const std::filesystem::path& scratch, int fps) = 0;
};
