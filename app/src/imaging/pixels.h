#pragma once
// Pictures as screens hand them over: four bytes a pixel, rows padded to a
// stride, in one of the byte orders below. A PixelView only points at such
// pixels (a screen's buffer, kept by its backend), so that a picture can be
// cropped and compressed without a copy.
#include "imaging/frame_size.h"
#include "imaging/image.h"

#include <cstdint>

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

inline bool same_layout(const PixelLayout& a, const PixelLayout& b) {
    return a.red == b.red && a.green == b.green && a.blue == b.blue;
}

struct PixelView {
    const std::uint8_t* data = nullptr;
    int width = 0;
    int height = 0;
    int stride = 0;          // bytes from the start of one row to the next
    bool bottom_up = false;  // the last row comes first
    PixelLayout layout;
};

// The first byte of row `y` (0 is the top row, whichever way it is stored).
inline const std::uint8_t* pixel_row(const PixelView& view, int y) {
    int stored = view.bottom_up ? view.height - 1 - y : y;
    return view.data + static_cast<std::ptrdiff_t>(stored) * view.stride;
}

// The part of `view` that `region` covers; `region` must lie inside it.
PixelView crop_view(const PixelView& view, const FrameRegion& region);

// The view's pixels as packed RGB, top row first.
Image image_of(const PixelView& view);
