#include "webm_facts.h"

#include <bit>
#include <cstdint>
#include <cstring>
#include <optional>

namespace {
// An EBML variable-length number: the count of leading zero bits of the
// first byte says how many bytes follow. Ids keep their marker bit, sizes
// do not.
std::optional<std::uint64_t> read_number(std::string_view bytes, std::size_t& at, bool keep_marker) {
    if (at >= bytes.size()) return std::nullopt;
    auto first = static_cast<std::uint8_t>(bytes[at]);
    int length = std::countl_zero(first) + 1;
    if (length > 8 || at + static_cast<std::size_t>(length) > bytes.size()) return std::nullopt;
    std::uint64_t value = keep_marker ? first : first & (0xFFu >> length);
    for (int i = 1; i < length; ++i)
        value = value << 8 | static_cast<std::uint8_t>(bytes[at + static_cast<std::size_t>(i)]);
    at += static_cast<std::size_t>(length);
    return value;
}

std::uint64_t unsigned_of(std::string_view data) {
    std::uint64_t value = 0;
    for (char c : data) value = value << 8 | static_cast<std::uint8_t>(c);
    return value;
}

double float_of(std::string_view data) {
    std::uint64_t bits = unsigned_of(data);
    if (data.size() == 4) {
        auto narrow = static_cast<std::uint32_t>(bits);
        float value;
        std::memcpy(&value, &narrow, sizeof value);
        return value;
    }
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

bool walk(std::string_view bytes, WebmFacts& facts, double& scale) {
    std::size_t at = 0;
    while (at < bytes.size()) {
        auto id = read_number(bytes, at, true);
        auto size = read_number(bytes, at, false);
        if (!id || !size || *size > bytes.size() - at) return false;
        std::string_view data = bytes.substr(at, static_cast<std::size_t>(*size));
        at += static_cast<std::size_t>(*size);
        switch (*id) {
            case 0x18538067:  // Segment
            case 0x1549A966:  // Info
            case 0x1654AE6B:  // Tracks
            case 0xAE:        // TrackEntry
            case 0xE0:        // Video
            case 0x1F43B675:  // Cluster
                if (!walk(data, facts, scale)) return false;
                break;
            case 0xA3:  // SimpleBlock
            case 0xA0:  // BlockGroup
                ++facts.frames;
                break;
            case 0x2AD7B1:  // TimecodeScale, in nanoseconds
                scale = static_cast<double>(unsigned_of(data)) / 1e6;
                break;
            case 0x4489:  // Duration, in TimecodeScale units
                facts.duration_ms = float_of(data);
                break;
            case 0x86:  // CodecID
                facts.vp8 = data == "V_VP8";
                break;
            case 0xB0:
                facts.width = static_cast<int>(unsigned_of(data));
                break;
            case 0xBA:
                facts.height = static_cast<int>(unsigned_of(data));
                break;
            default:
                break;
        }
    }
    return true;
}
}  // namespace

WebmFacts read_webm(std::string_view bytes) {
    WebmFacts facts;
    double scale = 1;  // milliseconds per unit: the default TimecodeScale
    if (bytes.substr(0, 4) != "\x1A\x45\xDF\xA3") return facts;
    facts.readable = walk(bytes, facts, scale);
    if (facts.duration_ms >= 0) facts.duration_ms *= scale;
    return facts;
}
