#pragma once
// The X display named by DISPLAY, read with XGetImage and recorded by
// ffmpeg's x11grab.
#include "screen/screen_backend.h"

#include <memory>
#include <string>
#include <vector>

// Lets several threads talk to the X server and keeps an X error from ending
// the app; called once before any other thread starts.
void prepare_x11_screen();

std::unique_ptr<ScreenBackend> make_x11_screen();

// ffmpeg's input options that record `screen`.
std::vector<std::string> x11grab_input(const ScreenInfo& screen, int fps);
