#include "test_pictures.h"

namespace {
BgraPicture blank(int width, int height, std::ptrdiff_t stride) {
    BgraPicture picture;
    picture.width = width;
    picture.height = height;
    picture.stride = stride;
    picture.bytes.assign(static_cast<std::size_t>(stride) * static_cast<std::size_t>(height), 0x5A);
    return picture;
}

void put(BgraPicture& picture, int x, int y, Colour colour) {
    std::uint8_t* pixel = picture.bytes.data() + y * picture.stride + x * 4;
    pixel[0] = colour.b;
    pixel[1] = colour.g;
    pixel[2] = colour.r;
    pixel[3] = 0xFF;
}
}  // namespace

BgraPicture known_colours_picture(int frame) {
    const int width = known_colours_width, height = known_colours_height;
    BgraPicture picture = blank(width, height, width * 4 + 12);
    int pair = (frame / 10) % static_cast<int>(known_colours.size());
    Colour left = known_colours[pair];
    Colour right = known_colours[(pair + 1) % known_colours.size()];
    Colour stray{255, 0, 255};
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            bool left_out = x == width - 1 || y == height - 1;
            put(picture, x, y, left_out ? stray : x < 160 ? left : right);
        }
    }
    return picture;
}

BgraPicture busy_desktop_picture(int width, int height, int frame) {
    BgraPicture picture = blank(width, height, static_cast<std::ptrdiff_t>(width) * 4);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            auto shade = static_cast<std::uint8_t>(((x / 3 + y / 5) % 7) * 9 + x * 90 / width);
            put(picture, x, y, Colour{shade, static_cast<std::uint8_t>(shade + 30), 160});
        }
    }
    // A window of text-like stripes, dragged 8 pixels a frame.
    int window_width = width / 3, window_height = height / 3;
    int left = (frame * 8) % (width - window_width), top = height / 4;
    for (int y = top; y < top + window_height; ++y) {
        for (int x = left; x < left + window_width; ++x) {
            bool ink = (y - top) % 14 < 9 && ((x - left) * 7 + (y - top) * 3) % 11 < 4;
            put(picture, x, y, ink ? Colour{30, 30, 30} : Colour{245, 245, 240});
        }
    }
    // A video playing in the corner: rings that move and change colour.
    int corner_left = width - width / 4, corner_top = height - height / 4;
    int centre_x = corner_left + (frame * 5) % (width / 4), centre_y = corner_top + height / 8;
    for (int y = corner_top; y < height; ++y) {
        for (int x = corner_left; x < width; ++x) {
            int dx = x - centre_x, dy = y - centre_y;
            auto ring = static_cast<std::uint8_t>((dx * dx + dy * dy) / 40 + frame * 6);
            put(picture, x, y,
                Colour{ring, static_cast<std::uint8_t>(255 - ring), static_cast<std::uint8_t>(frame * 3)});
        }
    }
    return picture;
}
