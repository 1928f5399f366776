#pragma once
// Pictures for the Windows recording tests and benchmark, as a screen
// capture hands them over: BGRA rows with a stride.
#include "recording/yuv.h"

#include <array>
#include <cstdint>
#include <vector>

struct BgraPicture {
    int width = 0;
    int height = 0;
    std::ptrdiff_t stride = 0;
    std::vector<std::uint8_t> bytes;

    BgraRows rows() const { return BgraRows{bytes.data(), width, height, stride}; }
};

struct Colour {
    std::uint8_t r, g, b;
};

// The WebM of known colours that check-webm.sh reads back: 50 frames at 25
// a second from pictures of 323x183 (rows padded to a longer stride), so
// 322x182 once the stray column and row are left out. Frame i shows pair
// k = i / 10: its left half (x < 160) known_colours[k], its right half
// known_colours[(k + 1) % 5]; the stray column and row are magenta.
inline constexpr int known_colours_width = 323;
inline constexpr int known_colours_height = 183;
inline constexpr int known_colours_frames = 50;
inline constexpr std::array<Colour, 5> known_colours = {Colour{200, 40, 40}, Colour{40, 180, 70}, Colour{50, 70, 210},
                                                        Colour{230, 230, 230}, Colour{20, 20, 20}};

BgraPicture known_colours_picture(int frame);

// Something like a desktop in use, for the encode benchmark: a still
// background of fine detail, a window of text moving across it and a video
// playing in a corner, at frame `frame`.
BgraPicture busy_desktop_picture(int width, int height, int frame);
