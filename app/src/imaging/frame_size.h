#pragma once
// The size of a frame as the "width" and "height" query parameters ask for it.
#include <optional>
#include <string_view>

// Frames are at least 16 and at most 4096 pixels on each side: enough for any
// screen and any agent, and small enough that one frame never costs more than
// a fraction of a second or 50 MB of memory.
inline constexpr int min_frame_side = 16;
inline constexpr int max_frame_side = 4096;

struct FrameSize {
    int width = 0;
    int height = 0;

    bool operator==(const FrameSize&) const = default;
};

// A part of a source's picture, in the source's own pixels.
struct FrameRegion {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;

    bool operator==(const FrameRegion&) const = default;
};

struct SizeRequest {
    std::optional<int> width;
    std::optional<int> height;
    // Crop the source to this region (already clipped to it) before scaling;
    // the sides above then apply to the region, whose aspect ratio a missing
    // side follows.
    std::optional<FrameRegion> region = std::nullopt;
};

// One side as typed: decimal digits only, within the limits above.
// Throws a bad-argument Fault with a message that names the parameter.
int parse_frame_side(std::string_view name, std::string_view text);

// The asked size against a source's own size: both sides as given; one side
// given, the other follows the source's aspect ratio; none, the source's own.
FrameSize resolve_frame_size(const SizeRequest& request, FrameSize native);
