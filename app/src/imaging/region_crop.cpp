#include "imaging/region_crop.h"

#include <algorithm>
#include <cstring>

Image crop_to_region(const Image& image, const FrameRegion& region) {
    const int left = std::clamp(region.x, 0, image.width), top = std::clamp(region.y, 0, image.height);
    const int right = std::clamp(region.x + std::max(0, region.width), left, image.width);
    const int bottom = std::clamp(region.y + std::max(0, region.height), top, image.height);
    Image part = blank_image(right - left, bottom - top);
    const std::size_t row_bytes = static_cast<std::size_t>(part.width) * 3;
    for (int y = 0; y < part.height; ++y) {
        const std::uint8_t* from = &image.rgb[(static_cast<std::size_t>(top + y) * image.width + left) * 3];
        if (row_bytes > 0) std::memcpy(&part.rgb[static_cast<std::size_t>(y) * row_bytes], from, row_bytes);
    }
    return part;
}
