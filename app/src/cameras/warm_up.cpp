#include "cameras/warm_up.h"

#include <algorithm>
#include <cmath>

namespace {
// Below this the frame is taken for one of the black frames many cameras
// send first; a room that really is this dark waits out the bound.
constexpr double black_level = 8.0;
constexpr std::size_t steady_frames = 3;

bool level_close(double a, double b) {
    return std::abs(a - b) <= std::max(2.0, 0.03 * std::max(a, b));
}

// Sensor noise moves sharpness by a few per cent from frame to frame; a
// hunting lens by much more.
bool sharpness_close(double a, double b) {
    return std::abs(a - b) <= std::max(0.5, 0.06 * std::max(a, b));
}
}  // namespace

bool WarmUp::settled_with(std::optional<FrameLook> look, std::optional<bool> focus_settled) {
    // A damaged frame says nothing about the light.
    if (!look) return false;
    looks_.push_back(*look);
    if (looks_.size() > steady_frames) looks_.erase(looks_.begin());
    if (looks_.size() < steady_frames || look->level < black_level) return false;
    for (std::size_t i = 1; i < looks_.size(); ++i) {
        if (!level_close(looks_[i - 1].level, looks_[i].level)) return false;
    }
    if (!watch_focus_) return true;
    if (focus_settled) return *focus_settled;
    for (std::size_t i = 1; i < looks_.size(); ++i) {
        if (!sharpness_close(looks_[i - 1].sharpness, looks_[i].sharpness)) return false;
    }
    return true;
}
