#pragma once
// A picture as a compositor hands it over: four bytes a pixel, rows padded
// to a stride, in one of the byte orders below.
#include "imaging/image.h"

#include <cstdint>
#include <string>
#include <vector>

// Where red, green and blue sit in a pixel's four bytes, and ffmpeg's name
// for that order (the fourth byte is never read: screens have no alpha).
struct PixelLayout {
    int red = 2, green = 1, blue = 0;
    const char* ffmpeg_name = "bgr0";
};
inline constexpr PixelLayout bgrx_layout{2, 1, 0, "bgr0"};
inline constexpr PixelLayout rgbx_layout{0, 1, 2, "rgb0"};
inline constexpr PixelLayout xrgb_layout{1, 2, 3, "0rgb"};
inline constexpr PixelLayout xbgr_layout{3, 2, 1, "0bgr"};

struct RawFrame {
    int width = 0;
    int height = 0;
    int stride = 0;          // bytes from the start of one row to the next
    bool bottom_up = false;  // the last row comes first
    PixelLayout layout;
    std::vector<std::uint8_t> bytes;  // stride * height
};

Image frame_to_image(const RawFrame& frame);

// The frame's top-left `width` x `height` pixels, rows top to bottom, without
// padding, into `out`: what ffmpeg reads as raw video. A smaller frame (the
// screen changed size) is padded with black.
void pack_frame(const RawFrame& frame, int width, int height, std::string& out);
