#pragma once
// The top-level windows of an X display: the window manager's client list
// (EWMH's _NET_CLIENT_LIST, _NET_ACTIVE_WINDOW, _NET_WM_NAME) or, without a
// window manager, the mapped children of the root window that carry a title.
// Windows that are not shown (minimised, unmapped) are left out.
#include "screen/screen_backend.h"
#include "screen/x11_link.h"

#include <optional>
#include <vector>

// Every window, or only `only` (none when it is not one of them). Geometry
// in root-window pixels; `monitor` is left 0. Hold the link's mutex.
std::vector<WindowInfo> read_x_windows(X11Link& link, XClock::time_point deadline,
                                       std::optional<xcb_window_t> only = std::nullopt);
