#include "client/text.h"

#include <cstdint>

bool is_valid_utf8(std::string_view text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const auto* end = p + text.size();
    while (p < end) {
        unsigned char lead = *p;
        if (lead < 0x80) {
            ++p;
            continue;
        }
        std::size_t length;
        unsigned char low = 0x80, high = 0xBF;  // allowed range of the second byte
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            if (lead == 0xE0) low = 0xA0;   // overlong
            if (lead == 0xED) high = 0x9F;  // surrogates
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            if (lead == 0xF0) low = 0x90;   // overlong
            if (lead == 0xF4) high = 0x8F;  // above U+10FFFF
        } else {
            return false;
        }
        if (static_cast<std::size_t>(end - p) < length) return false;
        if (p[1] < low || p[1] > high) return false;
        for (std::size_t i = 2; i < length; ++i) {
            if (p[i] < 0x80 || p[i] > 0xBF) return false;
        }
        p += length;
    }
    return true;
}

std::size_t character_count(std::string_view text) {
    std::size_t count = 0;
    for (char c : text) {
        if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) ++count;
    }
    return count;
}

std::string pad_left(std::string_view text, std::size_t width) {
    std::size_t count = character_count(text);
    std::string out(count < width ? width - count : 0, ' ');
    out += text;
    return out;
}

std::string pad_right(std::string_view text, std::size_t width) {
    std::size_t count = character_count(text);
    std::string out(text);
    if (count < width) out.append(width - count, ' ');
    return out;
}

// Decodes the character at `at` of valid UTF-8 text and its length in bytes.
static char32_t decode_at(std::string_view text, std::size_t at, std::size_t& length) {
    auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[at + i]); };
    unsigned char lead = byte(0);
    if (lead < 0x80) {
        length = 1;
        return lead;
    }
    if (lead < 0xE0) {
        length = 2;
        return (char32_t(lead & 0x1F) << 6) | (byte(1) & 0x3F);
    }
    if (lead < 0xF0) {
        length = 3;
        return (char32_t(lead & 0x0F) << 12) | (char32_t(byte(1) & 0x3F) << 6) | (byte(2) & 0x3F);
    }
    length = 4;
    return (char32_t(lead & 0x07) << 18) | (char32_t(byte(1) & 0x3F) << 12) | (char32_t(byte(2) & 0x3F) << 6) |
           (byte(3) & 0x3F);
}

static bool is_white_space(char32_t c) {
    return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

std::vector<std::string_view> white_space_fields(std::string_view text) {
    std::vector<std::string_view> fields;
    std::size_t start = 0, at = 0;
    while (at < text.size()) {
        std::size_t length;
        char32_t c = decode_at(text, at, length);
        if (is_white_space(c)) {
            if (at > start) fields.push_back(text.substr(start, at - start));
            start = at + length;
        }
        at += length;
    }
    if (at > start) fields.push_back(text.substr(start, at - start));
    return fields;
}

std::string_view trim_white_space(std::string_view text) {
    std::vector<std::string_view> fields = white_space_fields(text);
    if (fields.empty()) return text.substr(0, 0);
    const char* first = fields.front().data();
    const char* last = fields.back().data() + fields.back().size();
    return text.substr(static_cast<std::size_t>(first - text.data()), static_cast<std::size_t>(last - first));
}
