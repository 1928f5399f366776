// The fake phone's pictures, made with the app's own JPEG code.
#include "fake_phone.h"
#include "imaging/image.h"
#include "imaging/jpeg.h"

#include <stdexcept>

namespace {
Image gradient(int width, int height) {
    Image image = blank_image(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            std::uint8_t* px = &image.rgb[(static_cast<std::size_t>(y) * width + x) * 3];
            px[0] = static_cast<std::uint8_t>(x * 255 / width);
            px[1] = static_cast<std::uint8_t>(y * 255 / height);
            px[2] = 128;
        }
    }
    return image;
}
}  // namespace

std::string phone_photo() {
    return encode_jpeg(gradient(320, 240));
}

std::string jpeg_declaring(int width, int height) {
    std::string bytes = encode_jpeg(gradient(16, 16));
    // SOF0: FF C0, length (2), precision (1), height (2), width (2).
    std::size_t sof = bytes.find("\xFF\xC0");
    if (sof == std::string::npos) throw std::runtime_error("no SOF0 marker");
    bytes[sof + 5] = static_cast<char>(height >> 8);
    bytes[sof + 6] = static_cast<char>(height & 0xFF);
    bytes[sof + 7] = static_cast<char>(width >> 8);
    bytes[sof + 8] = static_cast<char>(width & 0xFF);
    return bytes;
}
