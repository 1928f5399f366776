#include "cameras/mode_choice.h"

#include <gtest/gtest.h>

namespace {
std::vector<CaptureMode> webcam_modes() {
    return {
        {PixelFormat::yuyv, {640, 480}},   {PixelFormat::yuyv, {1280, 720}},   {PixelFormat::mjpeg, {640, 480}},
        {PixelFormat::mjpeg, {1280, 720}}, {PixelFormat::mjpeg, {1920, 1080}}, {PixelFormat::nv12, {320, 240}},
    };
}

TEST(ModeChoice, TheSmallestCoveringSizeInThePreferredFormat) {
    struct Case {
        FrameSize wanted;
        PixelFormat format;
        FrameSize chosen;
    };
    const Case cases[] = {
        {{1280, 720}, PixelFormat::mjpeg, {1280, 720}},  // offered: taken as it is, in Motion-JPEG
        {{640, 480}, PixelFormat::mjpeg, {640, 480}},
        {{800, 600}, PixelFormat::mjpeg, {1280, 720}},  // shrunk from the next size up
        {{1280, 721}, PixelFormat::mjpeg, {1920, 1080}},
        {{16, 16}, PixelFormat::nv12, {320, 240}},  // only NV12 is that small
        {{320, 240}, PixelFormat::nv12, {320, 240}},
        {{4096, 2160}, PixelFormat::mjpeg, {1920, 1080}},  // nothing covers it: the largest
        {{100, 1000}, PixelFormat::mjpeg, {1920, 1080}},   // only the tallest covers a tall frame
        {{4096, 16}, PixelFormat::mjpeg, {1920, 1080}},
    };
    for (const auto& c : cases) {
        CaptureMode mode = choose_mode(webcam_modes(), c.wanted);
        EXPECT_EQ(mode.format, c.format) << c.wanted.width << "x" << c.wanted.height;
        EXPECT_EQ(mode.size, c.chosen) << c.wanted.width << "x" << c.wanted.height;
    }
}

TEST(ModeChoice, AFullRateModeBeatsASlowOneThatCoversTheSizeMoreTightly) {
    // As USB 2 webcams: YUYV slower the larger it gets, Motion-JPEG at 30.
    const std::vector<CaptureMode> modes = {
        {PixelFormat::yuyv, {1280, 720}, 10},
        {PixelFormat::yuyv, {1920, 1080}, 5},
        {PixelFormat::mjpeg, {1920, 1080}, 30},
        {PixelFormat::yuyv, {640, 480}, 30},
    };
    struct Case {
        FrameSize wanted;
        CaptureMode chosen;
    };
    const Case cases[] = {
        {{1280, 720}, {PixelFormat::mjpeg, {1920, 1080}}},  // rather than YUYV at 10 frames a second
        {{1920, 1080}, {PixelFormat::mjpeg, {1920, 1080}}},
        {{640, 480}, {PixelFormat::yuyv, {640, 480}}},
        {{3840, 2160}, {PixelFormat::mjpeg, {1920, 1080}}},  // nothing covers it: the fast one of the largest
    };
    for (const auto& c : cases) {
        CaptureMode mode = choose_mode(modes, c.wanted);
        EXPECT_TRUE(same_mode(mode, c.chosen)) << c.wanted.width << "x" << c.wanted.height;
    }
    // Only slow modes cover it: slow it is, rather than a smaller picture.
    std::vector<CaptureMode> slow_only = {{PixelFormat::yuyv, {1920, 1080}, 5}, {PixelFormat::yuyv, {640, 480}, 30}};
    EXPECT_EQ(choose_mode(slow_only, {1280, 720}).size, (FrameSize{1920, 1080}));
}

TEST(ModeChoice, WhenTheBusIsFullLighterModesAreCompressedOrSmaller) {
    const std::vector<CaptureMode> modes = {
        {PixelFormat::yuyv, {640, 480}},
        {PixelFormat::yuyv, {1920, 1080}},
        {PixelFormat::mjpeg, {1920, 1080}},
        {PixelFormat::mjpeg, {640, 480}},
    };
    auto lighter = lighter_modes(modes, {PixelFormat::yuyv, {1920, 1080}});
    ASSERT_EQ(lighter.size(), 3u);
    EXPECT_TRUE(same_mode(choose_mode(lighter, {1920, 1080}), {PixelFormat::mjpeg, {1920, 1080}}));
    auto smaller = lighter_modes(modes, {PixelFormat::mjpeg, {1920, 1080}});
    ASSERT_EQ(smaller.size(), 2u);
    for (const auto& mode : smaller) EXPECT_EQ(mode.size, (FrameSize{640, 480}));
    EXPECT_TRUE(lighter_modes(modes, {PixelFormat::mjpeg, {640, 480}}).empty());
}

TEST(ModeChoice, RegionsAreCutFromModesOfTheSameShape) {
    auto shaped = modes_shaped_like(webcam_modes(), {1280, 720});
    ASSERT_EQ(shaped.size(), 3u);
    for (const auto& mode : shaped) EXPECT_EQ(mode.size.width * 9, mode.size.height * 16);
}
}  // namespace
