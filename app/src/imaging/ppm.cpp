#include "imaging/ppm.h"

#include <cctype>
#include <cstring>

namespace {
// A decimal field of the header, after white space and comments.
std::optional<long> header_number(std::string_view bytes, std::size_t& at) {
    for (;;) {
        while (at < bytes.size() && std::isspace(static_cast<unsigned char>(bytes[at]))) ++at;
        if (at < bytes.size() && bytes[at] == '#') {
            while (at < bytes.size() && bytes[at] != '\n') ++at;
            continue;
        }
        break;
    }
    long value = 0;
    std::size_t digits = 0;
    while (at < bytes.size() && std::isdigit(static_cast<unsigned char>(bytes[at])) && digits < 6) {
        value = value * 10 + (bytes[at] - '0');
        ++at;
        ++digits;
    }
    if (digits == 0 || (at < bytes.size() && std::isdigit(static_cast<unsigned char>(bytes[at])))) return std::nullopt;
    return value;
}
}  // namespace

std::optional<Image> read_ppm(std::string_view bytes, std::size_t& at) {
    std::size_t p = at;
    if (bytes.size() < p + 2 || bytes[p] != 'P' || bytes[p + 1] != '6') return std::nullopt;
    p += 2;
    auto width = header_number(bytes, p);
    auto height = header_number(bytes, p);
    auto max = header_number(bytes, p);
    // One white-space byte ends the header.
    if (!width || !height || !max || *max != 255 || *width < 1 || *height < 1 || *width > 16384 || *height > 16384 ||
        p >= bytes.size() || !std::isspace(static_cast<unsigned char>(bytes[p]))) {
        return std::nullopt;
    }
    ++p;
    std::size_t size = static_cast<std::size_t>(*width) * static_cast<std::size_t>(*height) * 3;
    if (bytes.size() - p < size) return std::nullopt;
    Image image = blank_image(static_cast<int>(*width), static_cast<int>(*height));
    std::memcpy(image.rgb.data(), bytes.data() + p, size);
    at = p + size;
    return image;
}
