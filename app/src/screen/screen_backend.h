#pragma once
// What every screen backend offers, whatever the platform (X11, wlroots, the
// desktop portal; Windows' GDI): what the screen is, its monitors and
// windows, a picture of all of it, one monitor, one window or a region of
// any of them, and the input of a recording.
#include "cancellation.h"
#include "imaging/frame_size.h"
#include "imaging/pixels.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// One monitor: a part of the whole screen that one output shows.
struct MonitorInfo {
    std::string name;  // the output's name ("DP-1", "HEADLESS-2"); may be empty
    FrameRegion area;  // in the whole screen's pixels
    // Its picture's own size: the area's, unless the desktop scales it (a
    // Wayland output at scale 2 shows a 1920x1080 area in 3840x2160 pixels).
    FrameSize size = {};
};

struct ScreenInfo {
    std::string display;  // the session it shows: ":0", "wayland-1"
    FrameSize size;       // the whole screen; 0x0 when only a capture can tell (the portal)
    // Left to right (then top to bottom); empty when the backend cannot tell
    // monitors apart (the portal shows what the user picked).
    std::vector<MonitorInfo> monitors = {};
};

// What the screen is as last seen. A backend answers it without waiting for
// the display: a display that does not answer is reported, never waited for.
struct ScreenState {
    std::optional<ScreenInfo> screen;  // null when the screen cannot be used now
    std::string problem;               // why, then
};

// One top-level window.
struct WindowInfo {
    std::string id;                      // "0x3c00007" on X11
    std::string title;                   // UTF-8
    std::optional<std::string> program;  // the program's own name for itself, when it gives one
    FrameRegion area;                    // in the whole screen's pixels; may reach past its edges
    int monitor = 0;                     // 1-based, the monitor that shows most of it; 0 for none
    bool focused = false;
};

// Which part of the screen a picture shows.
struct ScreenTarget {
    enum class Kind { whole, monitor, window };
    Kind kind = Kind::whole;
    int monitor = 0;     // 1-based, for Kind::monitor
    std::string window;  // the id, for Kind::window
};

struct ScreenRequest {
    ScreenTarget target;
    // In the target's own pixels, as asked (not yet clipped); null for all of it.
    std::optional<FrameRegion> region;
    std::string device;  // the device id, for messages ("screen:2")
    CancelCheck cancelled = [] { return false; };
};

// A picture as the backend holds it.
struct ScreenShot {
    FrameSize source;                   // the target's full size
    std::optional<FrameRegion> region;  // the part shown, in the target's pixels, when not all of it
    PixelView pixels;                   // valid only during the call that hands it over
};
using ScreenShotUse = std::function<void(const ScreenShot&)>;

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

// Every member may be called from several request threads at once; a backend
// serialises its own use of the display and bounds every wait for it.
class ScreenBackend {
public:
    virtual ~ScreenBackend() = default;
    virtual const char* name() const = 0;  // null when there is no screen at all

    // Never waits for the display: asked by /health and /devices.
    virtual ScreenState state() = 0;

    // The top-level windows shown now. Faults: unsupported where the platform
    // cannot list windows, timed_out when the display does not answer in time.
    virtual std::vector<WindowInfo> windows() = 0;

    // Hands a picture of the request's target, cut to its region (clipped
    // with clip_region), to `use`, while its pixels are held. Faults:
    // not_found for a monitor or window that is not there, bad_argument for a
    // region outside the target, unsupported for a kind of target the
    // platform cannot show, unavailable without a screen, timed_out when the
    // display does not answer in time, denied when the desktop refuses.
    // Cancelled when the request's CancelCheck turns true during a long wait.
    virtual void capture(const ScreenRequest& request, const ScreenShotUse& use) = 0;

    virtual RecordingInput start_recording(const std::filesystem::path& scratch, int fps) = 0;
};
