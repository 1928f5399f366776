#include "imaging/frame_size.h"

#include "fault.h"

#include <algorithm>
#include <cmath>
#include <string>

int parse_frame_side(std::string_view name, std::string_view text, int max_side) {
    auto refuse = [&] {
        return Fault{FaultKind::bad_argument, std::string(name) + " must be a whole number from " +
                                                  std::to_string(min_frame_side) + " to " + std::to_string(max_side) +
                                                  " (got \"" + std::string(text) + "\")"};
    };
    if (text.empty() || text.size() > 9) throw refuse();
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') throw refuse();
        value = value * 10 + (c - '0');
    }
    if (value < min_frame_side || value > max_side) throw refuse();
    return value;
}

static int follow_aspect(int given, int native_given, int native_other, int max_side) {
    double other = std::round(static_cast<double>(given) * native_other / std::max(1, native_given));
    // Clamped before the conversion, which any source's size then keeps defined.
    return static_cast<int>(std::clamp(other, double{min_frame_side}, static_cast<double>(max_side)));
}

FrameSize resolve_frame_size(const SizeRequest& request, FrameSize native, int max_side) {
    if (request.width && request.height) return {*request.width, *request.height};
    if (request.width) return {*request.width, follow_aspect(*request.width, native.width, native.height, max_side)};
    if (request.height) return {follow_aspect(*request.height, native.height, native.width, max_side), *request.height};
    return native;
}

FrameSize fit_within(FrameSize size, int max_side) {
    if (size.width <= max_side && size.height <= max_side) return size;
    double factor = static_cast<double>(max_side) / std::max(size.width, size.height);
    auto side = [&](int native) { return std::clamp(static_cast<int>(std::lround(native * factor)), 1, max_side); };
    return {side(size.width), side(size.height)};
}

namespace {
constexpr long region_limit = 1'000'000;

long parse_region_number(std::string_view name, std::string_view text) {
    auto refuse = [&] {
        return Fault{FaultKind::bad_argument,
                     std::string(name) + " must be a whole number of pixels (got \"" + std::string(text) + "\")"};
    };
    std::string_view digits = text;
    bool negative = !digits.empty() && digits.front() == '-';
    if (negative) digits.remove_prefix(1);
    if (digits.empty() || digits.size() > 7) throw refuse();
    long value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') throw refuse();
        value = value * 10 + (c - '0');
    }
    if (value > region_limit) throw refuse();
    return negative ? -value : value;
}
}  // namespace

FrameRegion parse_frame_region(std::string_view x, std::string_view y, std::string_view w, std::string_view h) {
    return {static_cast<int>(parse_region_number("x", x)), static_cast<int>(parse_region_number("y", y)),
            static_cast<int>(parse_region_number("w", w)), static_cast<int>(parse_region_number("h", h))};
}

FrameRegion clip_region(const FrameRegion& region, FrameSize size, std::string_view source) {
    std::string asked = "the region x=" + std::to_string(region.x) + " y=" + std::to_string(region.y) +
                        " w=" + std::to_string(region.width) + " h=" + std::to_string(region.height);
    std::string whole = std::string(source) + ", which is " + std::to_string(size.width) + "x" +
                        std::to_string(size.height) + " pixels";
    if (region.width < 1 || region.height < 1) {
        throw Fault{FaultKind::bad_argument, asked + " is empty: w and h must be at least 1 (" + whole + ")"};
    }
    // In long: a region near the limits plus its size stays exact.
    long left = std::max<long>(region.x, 0), top = std::max<long>(region.y, 0);
    long right = std::min<long>(static_cast<long>(region.x) + region.width, size.width);
    long bottom = std::min<long>(static_cast<long>(region.y) + region.height, size.height);
    if (right <= left || bottom <= top) {
        throw Fault{FaultKind::bad_argument,
                    asked + " lies outside " + whole + " (x and y count from 0 at its top left)"};
    }
    return {static_cast<int>(left), static_cast<int>(top), static_cast<int>(right - left),
            static_cast<int>(bottom - top)};
}

std::string region_text(const FrameRegion& region) {
    return std::to_string(region.x) + "," + std::to_string(region.y) + "," + std::to_string(region.width) + "," +
           std::to_string(region.height);
}
