#pragma once
// Copies of a wlroots compositor's screen through the wlr-screencopy
// protocol, over a connection of their own to WAYLAND_DISPLAY.
#include "screen/raw_frame.h"

#include <chrono>
#include <memory>
#include <string>

// Whether the compositor in WAYLAND_DISPLAY offers wlr-screencopy.
bool compositor_offers_screencopy();

struct ScreencopyConnection;

// One connection; copies its first output (the one the compositor lists
// first). Not for use from two threads at once.
class Screencopy {
public:
    // Unavailable (a Fault) when the compositor cannot be reached, offers no
    // wlr-screencopy or no output. `limit` bounds every wait for it.
    explicit Screencopy(std::chrono::milliseconds limit = std::chrono::seconds(5));
    ~Screencopy();
    Screencopy(const Screencopy&) = delete;
    Screencopy& operator=(const Screencopy&) = delete;

    // The output's size in pixels as its current mode says (0x0 if unsaid).
    int width() const;
    int height() const;

    // A copy of the whole output as it is now. A failed Fault when the
    // compositor refuses or does not answer, or uses a pixel format this
    // app cannot read; the frame is left as it was.
    void copy(RawFrame& frame);

private:
    std::unique_ptr<ScreencopyConnection> connection_;
};

// The name of the Wayland display, for messages ("wayland-0" when unset).
std::string wayland_display_name();
