#include "imaging/png.h"

#include <png.h>

std::optional<Image> decode_png(std::string_view bytes) {
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_memory(&png, bytes.data(), bytes.size())) return std::nullopt;
    if (png.width == 0 || png.height == 0 || png.width > 16384 || png.height > 16384) {
        png_image_free(&png);
        return std::nullopt;
    }
    // Transparency, which a screen has none of, is laid over black.
    png.format = PNG_FORMAT_RGB;
    Image image = blank_image(static_cast<int>(png.width), static_cast<int>(png.height));
    if (!png_image_finish_read(&png, nullptr, image.rgb.data(), 0, nullptr)) {
        png_image_free(&png);
        return std::nullopt;
    }
    return image;
}
