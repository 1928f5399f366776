#pragma once
// The Windows desktop through GDI: the virtual screen (every monitor) copied
// with BitBlt into a bitmap kept between pictures, the mouse pointer drawn
// on top as the user sees it, monitors as the display settings place them,
// the windows the user sees (screen/gdi_windows.h), a window's picture cut
// from the screen where it lies. Refused, never a black picture, while the
// lock screen or a secure prompt (UAC) is shown. The process should be
// aware of each monitor's DPI first (screen/dpi_awareness.h), so that
// pictures come in physical pixels. Recordings are made in process
// (recording/windows_recorder.h) from the same pictures. Windows only.
#include "screen/screen_backend.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>

struct GdiScreenSettings {
    // The name of the desktop that receives the input, nothing when it
    // cannot be opened (screen/gdi_desktop.h); the tests stand in for the
    // secure desktop, which wine cannot show.
    std::function<std::optional<std::string>()> input_desktop;
};

std::unique_ptr<ScreenBackend> make_gdi_screen(GdiScreenSettings settings = {});
