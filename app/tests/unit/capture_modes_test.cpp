#include "cameras/v4l2/capture_modes.h"

#include <gtest/gtest.h>

namespace {
std::vector<CaptureMode> webcam_modes() {
    return {
        {PixelFormat::yuyv, {640, 480}},   {PixelFormat::yuyv, {1280, 720}},   {PixelFormat::mjpeg, {640, 480}},
        {PixelFormat::mjpeg, {1280, 720}}, {PixelFormat::mjpeg, {1920, 1080}}, {PixelFormat::nv12, {320, 240}},
    };
}

TEST(CaptureModes, TheSmallestCoveringSizeInThePreferredFormat) {
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

TEST(CaptureModes, YuvWhenItIsAllThereIs) {
    std::vector<CaptureMode> yuv = {{PixelFormat::nv12, {1280, 720}}, {PixelFormat::yuyv, {1280, 720}}};
    EXPECT_EQ(choose_mode(yuv, {1280, 720}).format, PixelFormat::yuyv);
    EXPECT_EQ(fourcc_text(fourcc_of(PixelFormat::mjpeg)), "MJPG");
    EXPECT_EQ(fourcc_text(fourcc_of(PixelFormat::nv12)), "NV12");
    EXPECT_EQ(fourcc_text(0x34363248), "H264");
}
}  // namespace
