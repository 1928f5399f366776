#include "cameras/v4l2/warm_up.h"

#include <gtest/gtest.h>

#include <vector>

namespace {
// The index of the frame at which the warm-up ends, or -1.
int settles_at(const std::vector<std::optional<double>>& levels) {
    WarmUp judge;
    for (std::size_t i = 0; i < levels.size(); ++i) {
        if (judge.settled_with(levels[i])) return static_cast<int>(i);
    }
    return -1;
}

TEST(WarmUp, EndsWhenThreeFramesAgree) {
    struct Case {
        const char* what;
        std::vector<std::optional<double>> levels;
        int settles;
    };
    const Case cases[] = {
        {"steady from the start", {120, 121, 120, 121}, 2},
        {"a dark ramp first", {10, 30, 60, 90, 110, 118, 120, 121}, 7},
        {"black frames do not count as settled", {0, 0, 0, 0, 2, 2, 2}, -1},
        {"a green first frame, then steady", {0, 100, 101, 100}, 3},
        {"a frame that cannot be read is passed over", {100, 100, std::nullopt, 100, 100}, 3},
        {"unreadable frames never settle it", {std::nullopt, std::nullopt, std::nullopt, std::nullopt}, -1},
        {"a dark but real room settles", {20, 20.5, 20}, 2},
        {"small drift within 3 %", {200, 204, 208, 210}, 2},
        {"a jump breaks it", {100, 100, 130, 130, 131}, 4},
    };
    for (const auto& c : cases) EXPECT_EQ(settles_at(c.levels), c.settles) << c.what;
}
}  // namespace
