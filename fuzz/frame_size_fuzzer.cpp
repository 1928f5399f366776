// The size a frame is asked for: the "width" and "height" query parameters
// as the frame endpoint reads them from the request line, and the size that
// follows from them and a source's own size.
//
// Input: four bytes read from the end (the source's own width and height,
// up to 65535 each as in a JPEG image), then the query string.
//
// A side is taken exactly when it is decimal digits of a number from 16 to
// 4096, else refused with 400 and a message naming it; the resolved size is
// always within those limits and keeps every side that was asked for.
#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <string_view>

#include "check.h"
#include "fault.h"
#include "http/message_head.h"
#include "imaging/frame_size.h"
#include "refusal_reply.h"

namespace {
// What the side should be: nullopt when the text must be refused.
std::optional<int> expected_side(std::string_view text) {
    if (text.empty() || text.size() > 9) return std::nullopt;
    long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
    }
    if (value < min_frame_side || value > max_frame_side) return std::nullopt;
    return static_cast<int>(value);
}

std::optional<int> side(const HttpRequest& request, const char* name) {
    if (!has_query(request, name)) return std::nullopt;
    std::string text = query_value(request, name);
    std::optional<int> expected = expected_side(text);
    try {
        int value = parse_frame_side(name, text);
        FUZZ_CHECK(expected && value == *expected, "a side was taken that is not a number in the limits");
        return value;
    } catch (const Fault& refusal) {
        FUZZ_CHECK(!expected, "a side in the limits was refused");
        FUZZ_CHECK(refusal.kind == FaultKind::bad_argument, "a side was refused as something else than a bad argument");
        FUZZ_CHECK(refusal.message.rfind(std::string(name) + " ", 0) == 0, "the refusal does not name the side");
        check_refusal_reply(refusal);
        throw;
    }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    FrameSize native{input.ConsumeIntegral<std::uint16_t>(), input.ConsumeIntegral<std::uint16_t>()};
    std::string query = input.ConsumeRemainingBytesAsString();

    HttpRequest request;
    std::string head = "GET /api/frame.jpg?" + query + " HTTP/1.1\r\nHost: 127.0.0.1:7777\r\n\r\n";
    if (parse_request_head(head, request)) return 0;

    SizeRequest asked;
    try {
        asked.width = side(request, "width");
        asked.height = side(request, "height");
    } catch (const Fault&) {
        return 0;
    }

    FrameSize resolved = resolve_frame_size(asked, native);
    if (!asked.width && !asked.height) {
        FUZZ_CHECK(resolved == native, "nothing asked, yet the size changed");
        return 0;
    }
    FUZZ_CHECK(resolved.width >= min_frame_side && resolved.width <= max_frame_side, "the width is out of limits");
    FUZZ_CHECK(resolved.height >= min_frame_side && resolved.height <= max_frame_side, "the height is out of limits");
    if (asked.width) FUZZ_CHECK(resolved.width == *asked.width, "the asked width was not kept");
    if (asked.height) FUZZ_CHECK(resolved.height == *asked.height, "the asked height was not kept");
    if (asked.width && !asked.height && native.width > 0) {
        // The other side follows the source's aspect ratio, within rounding.
        double exact = static_cast<double>(*asked.width) * native.height / native.width;
        double clamped = std::clamp(exact, double(min_frame_side), double(max_frame_side));
        FUZZ_CHECK(std::abs(resolved.height - clamped) <= 0.5, "the height does not follow the aspect ratio");
    }
    if (asked.height && !asked.width && native.height > 0) {
        double exact = static_cast<double>(*asked.height) * native.width / native.height;
        double clamped = std::clamp(exact, double(min_frame_side), double(max_frame_side));
        FUZZ_CHECK(std::abs(resolved.width - clamped) <= 0.5, "the width does not follow the aspect ratio");
    }
    return 0;
}
