#pragma once
// A picture in memory: packed 8-bit RGB, rows top to bottom.
#include <cstdint>
#include <vector>

struct Image {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;  // width * height * 3 bytes
};

inline Image blank_image(int width, int height) {
    Image image;
    image.width = width;
    image.height = height;
    image.rgb.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3, 0);
    return image;
}
