#include "screen/raw_frame.h"

#include <algorithm>
#include <cstring>

namespace {
const std::uint8_t* row_start(const RawFrame& frame, int y) {
    int stored = frame.bottom_up ? frame.height - 1 - y : y;
    return frame.bytes.data() + static_cast<std::size_t>(stored) * static_cast<std::size_t>(frame.stride);
}

bool holds_its_rows(const RawFrame& frame) {
    return frame.width > 0 && frame.height > 0 && frame.stride >= frame.width * 4 &&
           frame.bytes.size() >= static_cast<std::size_t>(frame.stride) * static_cast<std::size_t>(frame.height);
}
}  // namespace

PixelView view_of(const RawFrame& frame) {
    if (!holds_its_rows(frame)) return {};
    return {frame.bytes.data(), frame.width, frame.height, frame.stride, frame.bottom_up, frame.layout};
}

Image frame_to_image(const RawFrame& frame) {
    return image_of(view_of(frame));
}

void pack_frame(const RawFrame& frame, int width, int height, std::string& out) {
    std::size_t row_bytes = static_cast<std::size_t>(width) * 4;
    out.assign(row_bytes * static_cast<std::size_t>(height), '\0');
    if (!holds_its_rows(frame)) return;
    std::size_t copied = static_cast<std::size_t>(std::min(width, frame.width)) * 4;
    for (int y = 0; y < std::min(height, frame.height); ++y) {
        std::memcpy(&out[static_cast<std::size_t>(y) * row_bytes], row_start(frame, y), copied);
    }
}
