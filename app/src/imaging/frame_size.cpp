#include "imaging/frame_size.h"

#include "fault.h"

#include <algorithm>
#include <cmath>
#include <string>

int parse_frame_side(std::string_view name, std::string_view text) {
    auto refuse = [&] {
        return Fault{FaultKind::bad_argument,
                     std::string(name) + " must be a whole number from " + std::to_string(min_frame_side) + " to " +
                         std::to_string(max_frame_side) + " (got \"" + std::string(text) + "\")"};
    };
    if (text.empty() || text.size() > 9) throw refuse();
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') throw refuse();
        value = value * 10 + (c - '0');
    }
    if (value < min_frame_side || value > max_frame_side) throw refuse();
    return value;
}

static int follow_aspect(int given, int native_given, int native_other) {
    double other = std::round(static_cast<double>(given) * native_other / std::max(1, native_given));
    // Clamped before the conversion, which any source's size then keeps defined.
    return static_cast<int>(std::clamp(other, double{min_frame_side}, double{max_frame_side}));
}

FrameSize resolve_frame_size(const SizeRequest& request, FrameSize native) {
    if (request.width && request.height) return {*request.width, *request.height};
    if (request.width) return {*request.width, follow_aspect(*request.width, native.width, native.height)};
    if (request.height) return {follow_aspect(*request.height, native.height, native.width), *request.height};
    return native;
}
