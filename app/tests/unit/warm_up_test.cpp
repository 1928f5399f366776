#include "cameras/warm_up.h"

#include <gtest/gtest.h>

#include <vector>

namespace {
struct Frame {
    std::optional<FrameLook> look;  // nullopt: a frame that cannot be read
    std::optional<bool> focused = std::nullopt;
};

// The index of the frame at which the warm-up ends, or -1.
int settles_at(const std::vector<Frame>& frames, bool watch_focus) {
    WarmUp judge(watch_focus);
    for (std::size_t i = 0; i < frames.size(); ++i) {
        if (judge.settled_with(frames[i].look, frames[i].focused)) return static_cast<int>(i);
    }
    return -1;
}

std::vector<Frame> levels(std::initializer_list<std::optional<double>> values) {
    std::vector<Frame> frames;
    for (auto value : values) frames.push_back({value ? std::optional<FrameLook>(FrameLook{*value, 0}) : std::nullopt});
    return frames;
}

TEST(WarmUp, EndsWhenThreeFramesAgreeInBrightness) {
    struct Case {
        const char* what;
        std::vector<Frame> frames;
        int settles;
    };
    const Case cases[] = {
        {"steady from the start", levels({120, 121, 120, 121}), 2},
        {"a dark ramp first", levels({10, 30, 60, 90, 110, 118, 120, 121}), 7},
        {"black frames do not count as settled", levels({0, 0, 0, 0, 2, 2, 2}), -1},
        {"a green first frame, then steady", levels({0, 100, 101, 100}), 3},
        {"a frame that cannot be read is passed over", levels({100, 100, std::nullopt, 100, 100}), 3},
        {"unreadable frames never settle it", levels({std::nullopt, std::nullopt, std::nullopt, std::nullopt}), -1},
        {"a dark but real room settles", levels({20, 20.5, 20}), 2},
        {"small drift within 3 %", levels({200, 204, 208, 210}), 2},
        {"a jump breaks it", levels({100, 100, 130, 130, 131}), 4},
    };
    for (const auto& c : cases) EXPECT_EQ(settles_at(c.frames, false), c.settles) << c.what;
}

TEST(WarmUp, WatchingFocusItAlsoWaitsForThePictureToStopGettingSharper) {
    auto looks = [](std::initializer_list<std::pair<double, double>> values) {
        std::vector<Frame> frames;
        for (auto [level, sharpness] : values) frames.push_back({FrameLook{level, sharpness}});
        return frames;
    };
    struct Case {
        const char* what;
        std::vector<Frame> frames;
        bool watch_focus;
        int settles;
    };
    const Case cases[] = {
        // Exposure settled at frame 2, autofocus still pulling the lens in.
        {"sharpening", looks({{100, 5}, {100, 20}, {100, 80}, {100, 300}, {100, 900}, {100, 910}, {100, 905}}), true,
         6},
        {"the same frames without autofocus", looks({{100, 5}, {100, 20}, {100, 80}, {100, 300}}), false, 2},
        // Contrast autofocus passes the sharpest position, then comes back.
        {"overshoot", looks({{100, 300}, {100, 900}, {100, 300}, {100, 900}, {100, 900}, {100, 880}}), true, 5},
        {"sensor noise of a few per cent", looks({{100, 500}, {100, 515}, {100, 495}}), true, 2},
        {"a blurred but steady picture settles: nothing to wait for", looks({{100, 6}, {100, 6.1}, {100, 6.05}}), true,
         2},
        // Far from focus a moving lens changes the blur only a little from
        // frame to frame, but always the same way.
        {"creeping", looks({{100, 3.0}, {100, 3.2}, {100, 3.4}, {100, 3.6}, {100, 3.8}}), true, -1},
    };
    for (const auto& c : cases) EXPECT_EQ(settles_at(c.frames, c.watch_focus), c.settles) << c.what;
}

TEST(WarmUp, TheCamerasOwnFocusStatusDecidesWhereItHasOne) {
    // The lens rests between its steps, but the camera says it still hunts.
    std::vector<Frame> frames = {
        {FrameLook{100, 400}, false}, {FrameLook{100, 400}, false}, {FrameLook{100, 400}, false},
        {FrameLook{100, 900}, false}, {FrameLook{100, 900}, true},
    };
    EXPECT_EQ(settles_at(frames, true), 4);
}
}  // namespace

namespace {
TEST(WarmUp, FramesMissedInBetweenStartTheAgreementInSharpnessAgain) {
    // Two frames on the way to the sharpest position and one past it, as
    // blurred as each other: frames were dropped in between.
    WarmUp judge(true);
    EXPECT_FALSE(judge.settled_with(FrameLook{100, 300}));
    EXPECT_FALSE(judge.settled_with(FrameLook{100, 300}));
    judge.frames_missed();
    EXPECT_FALSE(judge.settled_with(FrameLook{100, 300}));
    EXPECT_FALSE(judge.settled_with(FrameLook{100, 900}));
    EXPECT_FALSE(judge.settled_with(FrameLook{100, 900}));
    EXPECT_TRUE(judge.settled_with(FrameLook{100, 900}));
}
}  // namespace
