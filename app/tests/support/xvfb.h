#pragma once
// A private X display for one test.
#include <sys/types.h>

#include <string>
#include <vector>

struct XvfbDisplay {
    pid_t pid = -1;
    std::string name;  // ":N"
};

inline constexpr int xvfb_width = 1280;
inline constexpr int xvfb_height = 720;

// Starts Xvfb with a screen of `width` x `height` (1280x720 unless said) on
// a display number it picks itself (so that tests can run side by side).
// Throws when it does not come up.
XvfbDisplay start_xvfb(const std::string& log_path, int width = xvfb_width, int height = xvfb_height);
void stop_xvfb(XvfbDisplay& display);

// Splits the screen into RandR monitors, as `xrandr --setmonitor` does for a
// desktop of several outputs: each "NAME WxH+X+Y". Throws when xrandr fails.
void set_xvfb_monitors(const XvfbDisplay& display, const std::vector<std::string>& monitors);
