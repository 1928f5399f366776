#pragma once
// Frames for the video encoders: 4:2:0 YUV (I420 for VP8, NV12 for Windows'
// H.264 encoder) from the app's RGB pictures and from a screen capture's
// BGRA rows, in BT.601 limited range, the colours ffmpeg's yuv420p gives for
// the same RGB, so that a recording made in process looks like one made by
// ffmpeg. Each chroma sample is the mean of its 2x2 block of pixels.
#include "imaging/image.h"

#include <cstddef>
#include <cstdint>
#include <vector>

// 4:2:0 video needs even sides; a stray last row or column is left out.
inline int even_side(int side) {
    return side > 0 ? side & ~1 : 0;
}

// Three planes: y holds width * height bytes, u and v (width / 2) *
// (height / 2) each, rows without padding.
struct I420Frame {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> y, u, v;
};

// The y plane as in I420, then one plane of (width / 2) * (height / 2) U,V
// pairs.
struct Nv12Frame {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> y, uv;
};

// A picture as rows of 32-bit pixels, bytes B, G, R, A (alpha unused), as
// Windows' GDI hands a screen over. `pixels` points at the top row; `stride`
// is the distance in bytes from one row's start to the next one down, at
// least width * 4, or negative for a bitmap stored bottom up.
struct BgraRows {
    const std::uint8_t* pixels = nullptr;
    int width = 0;
    int height = 0;
    std::ptrdiff_t stride = 0;
};

// The frame of even sides (see even_side) made from `image` or `rows`. A
// picture that does not hold the pixels its sides promise (an RGB buffer too
// short, no pixels, a stride shorter than a row) gives a frame of 0 x 0,
// which the encoders refuse.
I420Frame i420_from_rgb(const Image& image);
I420Frame i420_from_bgra(const BgraRows& rows);
Nv12Frame nv12_from_rgb(const Image& image);
Nv12Frame nv12_from_bgra(const BgraRows& rows);

// The same into `frame`, whose planes keep their storage from one frame to
// the next: a recording converts 25 frames a second, and fresh megabytes
// for each cost more than the conversion (under wine, several times more).
void fill_i420(const Image& image, I420Frame& frame);
void fill_i420(const BgraRows& rows, I420Frame& frame);
void fill_nv12(const Image& image, Nv12Frame& frame);
void fill_nv12(const BgraRows& rows, Nv12Frame& frame);
