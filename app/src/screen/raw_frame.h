#pragma once
// A picture as a compositor hands it over: four bytes a pixel, rows padded
// to a stride, in one of the byte orders below.
#include "imaging/image.h"
#include "imaging/pixels.h"

#include <cstdint>
#include <string>
#include <vector>

struct RawFrame {
    int width = 0;
    int height = 0;
    int stride = 0;          // bytes from the start of one row to the next
    bool bottom_up = false;  // the last row comes first
    PixelLayout layout;
    std::vector<std::uint8_t> bytes;  // stride * height
};

Image frame_to_image(const RawFrame& frame);

// The frame's pixels, as long as the frame lives; an empty view when the
// frame does not hold all its rows.
PixelView view_of(const RawFrame& frame);

// The frame's top-left `width` x `height` pixels, rows top to bottom, without
// padding, into `out`: what ffmpeg reads as raw video. A smaller frame (the
// screen changed size) is padded with black.
void pack_frame(const RawFrame& frame, int width, int height, std::string& out);
