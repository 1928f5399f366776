#include "imaging/scale.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>

namespace {
// The area average written the plain way, pixel by pixel in two
// dimensions: what the scaler's faster passes must agree with.
Image reference_shrink(const Image& src, int width, int height) {
    Image out = blank_image(width, height);
    double sx = static_cast<double>(src.width) / width, sy = static_cast<double>(src.height) / height;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            double x0 = x * sx, y0 = y * sy;
            double x1 = std::min(std::max(x0 + sx, x0 + 1.0), double(src.width));
            double y1 = std::min(std::max(y0 + sy, y0 + 1.0), double(src.height));
            double sum[3] = {0, 0, 0}, total = 0;
            for (int j = static_cast<int>(y0); j < std::min(src.height, static_cast<int>(std::ceil(y1))); ++j) {
                double wy = std::min<double>(j + 1, y1) - std::max<double>(j, y0);
                for (int i = static_cast<int>(x0); i < std::min(src.width, static_cast<int>(std::ceil(x1))); ++i) {
                    double w = wy * (std::min<double>(i + 1, x1) - std::max<double>(i, x0));
                    if (w <= 0) continue;
                    for (int c = 0; c < 3; ++c)
                        sum[c] += w * src.rgb[(static_cast<std::size_t>(j) * src.width + i) * 3 + c];
                    total += w;
                }
            }
            for (int c = 0; c < 3; ++c) {
                out.rgb[(static_cast<std::size_t>(y) * width + x) * 3 + c] =
                    static_cast<std::uint8_t>(std::lround(sum[c] / total));
            }
        }
    }
    return out;
}

TEST(Scale, ShrinkingAveragesTheAreaUnderEachPixel) {
    std::mt19937 random(3);
    Image src = blank_image(97, 61);
    for (auto& v : src.rgb) v = static_cast<std::uint8_t>(random());
    struct Case {
        int width, height;
    };
    // Whole and fractional factors, one side enlarged while the other shrinks.
    for (Case c : {Case{48, 30}, Case{10, 7}, Case{96, 60}, Case{33, 61}, Case{97, 20}, Case{1, 1}, Case{50, 100}}) {
        Image got = scale_image(src, c.width, c.height);
        Image want = reference_shrink(src, c.width, c.height);
        ASSERT_EQ(got.rgb.size(), want.rgb.size());
        int worst = 0;
        for (std::size_t i = 0; i < got.rgb.size(); ++i) worst = std::max(worst, std::abs(got.rgb[i] - want.rgb[i]));
        EXPECT_LE(worst, 1) << c.width << "x" << c.height;
    }
}

TEST(Scale, AScreensPixelsScaleAsTheirPicture) {
    std::mt19937 random(5);
    const int width = 80, height = 45, stride = 80 * 4 + 8;
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(stride) * height);
    for (auto& v : bytes) v = static_cast<std::uint8_t>(random());
    for (bool bottom_up : {false, true}) {
        PixelView view{bytes.data(), width, height, stride, bottom_up, xbgr_layout};
        for (auto [w, h] : {std::pair{40, 22}, std::pair{160, 90}, std::pair{80, 45}, std::pair{17, 45}}) {
            EXPECT_EQ(scale_pixels(view, w, h).rgb, scale_image(image_of(view), w, h).rgb)
                << w << "x" << h << (bottom_up ? " bottom up" : "");
        }
    }
}
}  // namespace
