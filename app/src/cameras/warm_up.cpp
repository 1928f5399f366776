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
// lens on its way by more, and always the same way: the frames must agree
// within 5 % all together, not only each with the next.
bool sharpness_steady(const std::vector<double>& values) {
    auto [low, high] = std::minmax_element(values.begin(), values.end());
    return *high - *low <= 0.05 * *high + 0.05;
}
}  // namespace

namespace {
// Keeps the last `steady_frames` values.
void keep(std::vector<double>& values, double value) {
    values.push_back(value);
    if (values.size() > steady_frames) values.erase(values.begin());
}

template <class Close>
bool steady(const std::vector<double>& values, Close close) {
    if (values.size() < steady_frames) return false;
    for (std::size_t i = 1; i < values.size(); ++i) {
        if (!close(values[i - 1], values[i])) return false;
    }
    return true;
}
}  // namespace

bool WarmUp::settled_with(std::optional<FrameLook> look, std::optional<bool> focus_settled) {
    // A damaged frame says nothing about the light.
    if (!look) return false;
    keep(levels_, look->level);
    keep(sharpness_, look->sharpness);
    if (look->level < black_level || !steady(levels_, level_close)) return false;
    if (!watch_focus_) return true;
    if (focus_settled) return *focus_settled;
    return sharpness_.size() >= steady_frames && sharpness_steady(sharpness_);
}
