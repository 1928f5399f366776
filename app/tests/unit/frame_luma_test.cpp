// Brightness and sharpness straight from the luma plane, on every platform.
#include "imaging/frame_luma.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {
// A frame whose luma is `value(x, y)`; chroma neutral.
template <class Value>
CameraFrame frame(PixelFormat format, int width, int height, Value value, int padding = 0) {
    CameraFrame f;
    f.format = format;
    f.width = width;
    f.height = height;
    f.bytes_per_line = (format == PixelFormat::yuyv ? width * 2 : width) + padding;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            f.bytes += char(value(x, y));
            if (format == PixelFormat::yuyv) f.bytes += char(128);
        }
        f.bytes += std::string(static_cast<std::size_t>(padding), '\x55');
    }
    if (format == PixelFormat::nv12)
        f.bytes += std::string(static_cast<std::size_t>(f.bytes_per_line * height / 2), char(128));
    return f;
}

TEST(FrameLuma, LevelsOnTheFullRangeInEveryUncompressedFormat) {
    for (PixelFormat format : {PixelFormat::yuyv, PixelFormat::nv12, PixelFormat::grey}) {
        auto flat = [&](int v) {
            return frame(
                format, 64, 48, [v](int, int) { return v; }, 6);
        };
        EXPECT_NEAR(*luma_level(flat(16)), 0.0, 0.5);
        EXPECT_NEAR(*luma_level(flat(235)), 255.0, 0.5);
        CameraFrame full = flat(200);
        full.full_range = true;
        EXPECT_NEAR(*luma_level(full), 200.0, 0.5);
    }
}

TEST(FrameLuma, SharpnessSeesEdgesAndNotFlatness) {
    for (PixelFormat format : {PixelFormat::yuyv, PixelFormat::nv12, PixelFormat::grey}) {
        for (int width : {320, 1280, 1920}) {
            int height = width * 9 / 16 / 2 * 2;
            auto edges = frame(format, width, height, [](int x, int y) { return ((x / 16 + y / 16) % 2) ? 220 : 40; });
            auto soft = frame(format, width, height, [width](int x, int) { return 40 + 180 * x / width; });
            EXPECT_GT(*luma_sharpness(edges), 100 * (*luma_sharpness(soft) + 1)) << width;
        }
    }
}

TEST(FrameLuma, FramesThatDoNotHoldAWholePictureGiveNothing) {
    auto flat = [](int, int) { return 100; };
    CameraFrame cut = frame(PixelFormat::nv12, 64, 48, flat);
    cut.bytes.resize(cut.bytes.size() - 1);
    CameraFrame odd = frame(PixelFormat::yuyv, 64, 48, flat);
    odd.width = 63;
    CameraFrame jpeg;
    jpeg.width = 64;
    jpeg.height = 48;
    jpeg.bytes = std::string(1000, 'x');
    for (const CameraFrame* f : {&cut, &odd, &jpeg}) {
        EXPECT_FALSE(luma_line(*f));
        EXPECT_FALSE(luma_level(*f));
        EXPECT_FALSE(luma_sharpness(*f));
    }
}
}  // namespace
