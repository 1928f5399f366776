#pragma once
// A private X display for one test.
#include <sys/types.h>

#include <string>

struct XvfbDisplay {
    pid_t pid = -1;
    std::string name;  // ":N"
};

// Starts Xvfb with a 1280x720 screen on a display number it picks itself
// (so that tests can run side by side). Throws when it does not come up.
XvfbDisplay start_xvfb(const std::string& log_path);
void stop_xvfb(XvfbDisplay& display);

inline constexpr int xvfb_width = 1280;
inline constexpr int xvfb_height = 720;
