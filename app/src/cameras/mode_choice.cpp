#include "cameras/mode_choice.h"

#include <algorithm>
#include <cmath>
#include <tuple>

namespace {
long long area(FrameSize size) {
    return static_cast<long long>(size.width) * size.height;
}

int format_preference(PixelFormat format) {
    switch (format) {
        case PixelFormat::mjpeg:
            return 0;
        case PixelFormat::yuyv:
            return 1;
        case PixelFormat::nv12:
            return 2;
        case PixelFormat::grey:
            return 3;
    }
    return 4;
}

bool slow(const CaptureMode& mode) {
    return mode.fps > 0 && mode.fps < full_rate_fps;
}
}  // namespace

bool same_mode(const CaptureMode& a, const CaptureMode& b) {
    return a.format == b.format && a.size == b.size;
}

CaptureMode choose_mode(const std::vector<CaptureMode>& usable, FrameSize wanted) {
    auto covers = [&](FrameSize s) { return s.width >= wanted.width && s.height >= wanted.height; };
    // How much of the wanted size a smaller frame covers, at most 1.
    auto coverage = [&](FrameSize s) {
        return std::min(1.0, static_cast<double>(s.width) / std::max(1, wanted.width)) *
               std::min(1.0, static_cast<double>(s.height) / std::max(1, wanted.height));
    };
    // Better is smaller: covering sizes first, at full rate first, smallest
    // area; then the best coverage; then the preferred format.
    auto rank = [&](const CaptureMode& m) {
        bool whole = covers(m.size);
        return std::make_tuple(whole ? 0 : 1, whole ? slow(m) : false, whole ? area(m.size) : 0LL,
                               whole ? 0.0 : -coverage(m.size), slow(m), whole ? 0LL : area(m.size),
                               format_preference(m.format));
    };
    return *std::min_element(usable.begin(), usable.end(),
                             [&](const CaptureMode& a, const CaptureMode& b) { return rank(a) < rank(b); });
}

std::vector<CaptureMode> lighter_modes(const std::vector<CaptureMode>& usable, const CaptureMode& failed) {
    std::vector<CaptureMode> lighter;
    for (const auto& mode : usable) {
        bool compressed_instead = mode.format == PixelFormat::mjpeg && failed.format != PixelFormat::mjpeg;
        if (!same_mode(mode, failed) && (compressed_instead || area(mode.size) < area(failed.size))) {
            lighter.push_back(mode);
        }
    }
    return lighter;
}

std::vector<CaptureMode> modes_shaped_like(const std::vector<CaptureMode>& usable, FrameSize size) {
    std::vector<CaptureMode> shaped;
    const double aspect = static_cast<double>(size.width) / std::max(1, size.height);
    for (const auto& mode : usable) {
        double own = static_cast<double>(mode.size.width) / std::max(1, mode.size.height);
        if (std::abs(own - aspect) <= 0.01 * aspect) shaped.push_back(mode);
    }
    return shaped;
}
