#pragma once
// The top-level windows of the Windows desktop that a user sees: visible,
// not minimised, with a title, not cloaked (on another virtual desktop, or
// a suspended store app) and not a tool window (floating palettes,
// notification pop-ups). Windows only.
#include "screen/gdi_desktop.h"
#include "screen/screen_backend.h"

#include <optional>
#include <string>
#include <vector>

// Top to bottom as they are stacked. Ids are the window handles in
// hexadecimal ("0x10074"), titles UTF-8, programs the image names of their
// processes ("notepad.exe"), areas in the virtual screen's pixels (the
// window's frame as drawn, without the invisible borders for resizing), the
// monitor that shows most of each, focused the foreground window.
std::vector<WindowInfo> read_gdi_windows(const GdiDesktop& desktop);

// The area of the window `id`, when it is one read_gdi_windows lists.
std::optional<FrameRegion> gdi_window_area(const std::string& id, const GdiDesktop& desktop);
