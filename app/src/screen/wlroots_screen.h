#pragma once
// A wlroots compositor (sway, Hyprland, river…) through wlr-screencopy: stills
// are copied directly, recordings fed to ffmpeg as raw video.
#include "screen/screen_backend.h"

#include <memory>

std::unique_ptr<ScreenBackend> make_wlroots_screen();
