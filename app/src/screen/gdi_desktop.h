#pragma once
// The Windows desktop as GDI sees it: the virtual screen (every monitor,
// placed as the display settings place them; its top-left corner may lie at
// negative coordinates, left of or above the primary monitor), its monitors,
// and whether the user's desktop is the one shown. In physical pixels once
// the process is aware of each monitor's DPI (screen/dpi_awareness.h).
// Windows only.
#include "screen/screen_backend.h"

#include <optional>
#include <string>

// Shown instead of a black picture while the input goes to another desktop
// than the user's: the lock screen, a UAC prompt, Ctrl+Alt+Del.
inline constexpr const char* secure_desktop_text =
    "the screen is locked or a secure prompt is showing; try again once it is gone";

struct GdiDesktop {
    int left = 0, top = 0;  // the virtual screen's top-left corner, in desktop coordinates
    FrameSize size;         // 0x0 when this session shows no screen
    // Areas in the virtual screen's pixels (from its top-left corner), left
    // to right then top to bottom; named by their display device
    // ("DISPLAY1"). One monitor covering the whole when the system lists none.
    std::vector<MonitorInfo> monitors;
};

// As the system says now; `with_monitors` false leaves them out (a picture
// of the whole screen needs none).
GdiDesktop read_gdi_desktop(bool with_monitors = true);

// The name of the desktop that receives the input: "Default" is the
// user's, where the app's own windows and pictures are; the lock screen and
// UAC prompts show "Winlogon", which the user's programs cannot even open
// (nothing then).
std::optional<std::string> input_desktop_name();

// Whether that desktop is the user's.
bool is_user_desktop(const std::optional<std::string>& name);

// "desktop 1920x1080, 2 monitors": how /health names what the backend shows.
std::string desktop_text(const GdiDesktop& desktop);
