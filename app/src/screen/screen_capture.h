#pragma once
// The X display named by DISPLAY, device "screen".
#include "imaging/frame_size.h"
#include "imaging/image.h"

#include <optional>
#include <string>

inline constexpr const char* screen_device_id = "screen";

// Called once before any other thread starts: lets several threads talk to
// the X server and keeps an X error from ending the app.
void prepare_screen_capture();

// The display's name and size, or nullopt when no display can be opened.
struct ScreenInfo {
    std::string display;
    FrameSize size;
};
std::optional<ScreenInfo> find_screen();

// The whole screen as it is now. A Refusal (503) without a display, (500)
// when the X server will not hand over the picture.
Image capture_screen();
