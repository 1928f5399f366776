// Motion-JPEG frames for the fake webcams, through libjpeg-turbo.
#include "fake_webcam.h"
#include "imaging/jpeg.h"

#include <cstdint>

bool fake_mjpeg_available() {
    return true;
}

std::string fake_mjpeg(const Image& picture) {
    // As many webcams send it: no DHT segment (the decoder is meant to know
    // the standard tables).
    std::string jpeg = encode_jpeg(picture, 85);
    std::string out = jpeg.substr(0, 2);
    std::size_t pos = 2;
    while (pos + 4 <= jpeg.size() && static_cast<std::uint8_t>(jpeg[pos]) == 0xFF) {
        auto marker = static_cast<std::uint8_t>(jpeg[pos + 1]);
        if (marker == 0xDA) break;
        std::size_t length = (static_cast<std::uint8_t>(jpeg[pos + 2]) << 8) | static_cast<std::uint8_t>(jpeg[pos + 3]);
        if (marker != 0xC4) out += jpeg.substr(pos, 2 + length);
        pos += 2 + length;
    }
    out += jpeg.substr(pos);
    return out;
}
