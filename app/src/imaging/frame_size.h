#pragma once
// The size of a frame as the "width" and "height" query parameters ask for it.
#include <optional>
#include <string>
#include <string_view>

// Frames are at least 16 and at most 4096 pixels on each side: enough for any
// camera and any agent, and small enough that one frame never costs more than
// a fraction of a second or 50 MB of memory. Screens (wide desktops, 5K
// monitors) and regions of any source go up to 8192, the most a picture is
// decoded at (jpeg.h).
inline constexpr int min_frame_side = 16;
inline constexpr int max_frame_side = 4096;
inline constexpr int max_screen_side = 8192;

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

// One side as typed: decimal digits only, from min_frame_side to `max_side`.
// Throws a bad-argument Fault with a message that names the parameter.
int parse_frame_side(std::string_view name, std::string_view text, int max_side = max_frame_side);

// The asked size against a source's own size: both sides as given; one side
// given, the other follows the source's aspect ratio (kept within
// min_frame_side and `max_side`); none, the source's own.
FrameSize resolve_frame_size(const SizeRequest& request, FrameSize native, int max_side = max_frame_side);

// `size` made to fit within `max_side` on both sides, keeping its aspect
// ratio; unchanged when it already fits.
FrameSize fit_within(FrameSize size, int max_side);

// A region as typed in the query parameters x, y, w and h: decimal whole
// numbers, a leading minus allowed, at most 1,000,000 away from 0 (whether it
// fits the source is clip_region's to say). Throws a bad-argument Fault
// naming the parameter.
FrameRegion parse_frame_region(std::string_view x, std::string_view y, std::string_view w, std::string_view h);

// `region` cut down to the part inside a source of `size`. A region wholly
// outside, or with a side below 1, is refused: a bad-argument Fault that
// names the source (its device id, "screen:2") and gives its size.
FrameRegion clip_region(const FrameRegion& region, FrameSize size, std::string_view source);

// "x,y,w,h", as the reply's X-Vistrel-Region header gives it.
std::string region_text(const FrameRegion& region);
