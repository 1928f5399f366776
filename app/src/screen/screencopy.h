#pragma once
// Copies of a wlroots compositor's outputs through the wlr-screencopy
// protocol, over a connection of their own to WAYLAND_DISPLAY; the outputs'
// names and places in the desktop through xdg-output.
#include "imaging/frame_size.h"
#include "imaging/pixels.h"
#include "screen/raw_frame.h"

#include <chrono>
#include <memory>
#include <string>
#include <vector>

// Whether the compositor in WAYLAND_DISPLAY offers wlr-screencopy.
bool compositor_offers_screencopy();

struct OutputInfo {
    std::string name;     // "HEADLESS-1", "DP-1"; empty when the compositor does not say
    FrameRegion logical;  // its place in the desktop, in the desktop's units
    FrameSize mode;       // its own pixels (a scaled output has more than its logical size)
};

struct ScreencopyConnection;

// One connection, kept for as long as it works. Not for use from two threads
// at once.
class Screencopy {
public:
    using Clock = std::chrono::steady_clock;

    // Unavailable (a Fault) when the compositor cannot be reached, offers no
    // wlr-screencopy or no output. `limit` bounds every wait for it in copy().
    explicit Screencopy(std::chrono::milliseconds limit = std::chrono::seconds(5));
    ~Screencopy();
    Screencopy(const Screencopy&) = delete;
    Screencopy& operator=(const Screencopy&) = delete;

    // Reads what the compositor has said since (outputs plugged in or out,
    // new modes). Faults: unavailable when the connection has dropped,
    // timed_out when the compositor does not answer by `deadline`.
    void update(Clock::time_point deadline);
    bool broken() const;  // the connection has dropped: make a new one

    std::vector<OutputInfo> outputs() const;  // in the order the compositor lists them

    // A copy of output `index` as it is now, in memory kept for that output
    // until its next copy. A failed Fault when the compositor refuses or
    // does not answer by `deadline`, or uses a pixel format this app cannot
    // read.
    PixelView copy_output(std::size_t index, Clock::time_point deadline);

    // A copy of the first output into `frame` (for recordings); the frame is
    // left as it was on a fault.
    void copy(RawFrame& frame);

private:
    std::unique_ptr<ScreencopyConnection> connection_;
};

// The name of the Wayland display, for messages ("wayland-0" when unset).
std::string wayland_display_name();
