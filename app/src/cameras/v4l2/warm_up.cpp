#include "cameras/v4l2/warm_up.h"

#include <algorithm>
#include <cmath>

namespace {
// Below this the frame is taken for one of the black frames many cameras
// send first; a room that really is this dark waits out the time bound.
constexpr double black_level = 8.0;
constexpr std::size_t steady_frames = 3;

bool close_to(double a, double b) {
    return std::abs(a - b) <= std::max(2.0, 0.03 * std::max(a, b));
}
}  // namespace

bool WarmUp::settled_with(std::optional<double> level) {
    // A damaged frame says nothing about the light.
    if (!level) return false;
    levels_.push_back(*level);
    if (levels_.size() > steady_frames) levels_.erase(levels_.begin());
    if (levels_.size() < steady_frames || *level < black_level) return false;
    for (std::size_t i = 1; i < levels_.size(); ++i) {
        if (!close_to(levels_[i - 1], levels_[i])) return false;
    }
    return true;
}
