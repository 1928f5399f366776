#include "mcp/image_budget.h"

#include <algorithm>
#include <cmath>

std::optional<PictureSize> jpeg_size(std::string_view bytes) {
    auto at = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
    if (bytes.size() < 4 || at(0) != 0xFF || at(1) != 0xD8) return std::nullopt;
    std::size_t pos = 2;
    while (pos < bytes.size()) {
        if (at(pos) != 0xFF) return std::nullopt;
        while (pos < bytes.size() && at(pos) == 0xFF) ++pos;  // fill bytes
        if (pos >= bytes.size()) return std::nullopt;
        unsigned marker = at(pos++);
        // Markers that stand alone, without a length.
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) continue;
        // The image data or its end before any frame header: no size to read.
        if (marker == 0xD9 || marker == 0xDA) return std::nullopt;
        if (pos + 2 > bytes.size()) return std::nullopt;
        std::size_t length = (at(pos) << 8) | at(pos + 1);
        if (length < 2) return std::nullopt;
        // Start of frame: every 0xC0-0xCF except DHT (C4), JPG (C8) and DAC (CC).
        bool frame = marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
        if (frame) {
            if (length < 7 || pos + 7 > bytes.size()) return std::nullopt;
            PictureSize size{(at(pos + 5) << 8) | at(pos + 6), (at(pos + 3) << 8) | at(pos + 4)};
            if (size.width == 0 || size.height == 0) return std::nullopt;
            return size;
        }
        pos += length;
    }
    return std::nullopt;
}

std::size_t base64_size(std::size_t bytes) {
    return (bytes + 2) / 3 * 4;
}

std::string base64(std::string_view bytes) {
    static const char alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    out.reserve(base64_size(bytes.size()));
    std::size_t i = 0;
    auto byte = [&](std::size_t at) { return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at])); };
    for (; i + 3 <= bytes.size(); i += 3) {
        std::uint32_t group = byte(i) << 16 | byte(i + 1) << 8 | byte(i + 2);
        out += alphabet[group >> 18];
        out += alphabet[(group >> 12) & 63];
        out += alphabet[(group >> 6) & 63];
        out += alphabet[group & 63];
    }
    std::size_t rest = bytes.size() - i;
    if (rest > 0) {
        std::uint32_t group = byte(i) << 16 | (rest == 2 ? byte(i + 1) << 8 : 0);
        out += alphabet[group >> 18];
        out += alphabet[(group >> 12) & 63];
        out += rest == 2 ? alphabet[(group >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

bool fits_budget(const ImageBudget& budget, PictureSize size, std::size_t jpeg_bytes) {
    return size.width <= budget.long_edge && size.height <= budget.long_edge &&
           size.width * size.height <= budget.pixels && base64_size(jpeg_bytes) < budget.base64_bytes;
}

PictureSize fitting_size(const ImageBudget& budget, PictureSize size, std::size_t jpeg_bytes) {
    double width = static_cast<double>(size.width), height = static_cast<double>(size.height);
    double scale = std::min({1.0, budget.long_edge / std::max(width, height),
                             std::sqrt(static_cast<double>(budget.pixels) / (width * height))});
    double encoded = static_cast<double>(base64_size(jpeg_bytes)) * scale * scale;
    if (encoded >= static_cast<double>(budget.base64_bytes)) {
        scale *= std::sqrt(static_cast<double>(budget.base64_bytes) / encoded) * 0.9;
    }
    // A hair over, so that a side meant to land on a whole number (the long
    // edge) does not fall one short; the pixel count is then held to.
    PictureSize fitted{std::max<std::int64_t>(1, static_cast<std::int64_t>(width * scale + 1e-6)),
                       std::max<std::int64_t>(1, static_cast<std::int64_t>(height * scale + 1e-6))};
    while (fitted.width * fitted.height > budget.pixels) {
        (fitted.width >= fitted.height ? fitted.width : fitted.height) -= 1;
    }
    return fitted;
}
