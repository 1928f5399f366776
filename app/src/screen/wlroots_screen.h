#pragma once
// A wlroots compositor (sway, Hyprland, river…) through wlr-screencopy, over
// one connection kept open: each output is a monitor, the whole screen is
// the outputs placed as the compositor places them. Stills are copied
// directly, recordings (of the first output) fed to ffmpeg as raw video.
// Single windows cannot be had.
#include "screen/screen_backend.h"

#include <memory>

std::unique_ptr<ScreenBackend> make_wlroots_screen();
