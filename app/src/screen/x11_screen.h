#pragma once
// The X display named by DISPLAY, over one connection kept open (through
// XCB): stills through the shared-memory extension into memory kept between
// pictures, monitors through RandR, windows through EWMH; recordings through
// ffmpeg's x11grab.
#include "screen/screen_backend.h"
#include "screen/screen_state_keeper.h"

#include <chrono>
#include <memory>
#include <string>
#include <vector>

struct X11Limits {
    std::chrono::milliseconds call{3000};        // a picture or the window list, waits for the server included
    std::chrono::milliseconds look{1000};        // a look at the screen for /health and /devices
    std::chrono::milliseconds first_look{2000};  // the first one, when nothing is known yet
    KeeperTiming keeper;
};

std::unique_ptr<ScreenBackend> make_x11_screen(X11Limits limits = {});

// ffmpeg's input options that record `screen`.
std::vector<std::string> x11grab_input(const ScreenInfo& screen, int fps);
