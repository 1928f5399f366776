#include "imaging/sharpness.h"

#include "imaging/blur.h"

#include <gtest/gtest.h>

namespace {
Image checkerboard(int size, int cell) {
    Image image = blank_image(size, size);
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            std::uint8_t v = ((x / cell + y / cell) % 2) ? 255 : 0;
            for (int c = 0; c < 3; ++c) image.rgb[(static_cast<std::size_t>(y) * size + x) * 3 + c] = v;
        }
    }
    return image;
}

TEST(Sharpness, FlatPicturesHaveNone) {
    Image flat = blank_image(50, 40);
    std::fill(flat.rgb.begin(), flat.rgb.end(), 77);
    EXPECT_DOUBLE_EQ(laplacian_variance(flat), 0.0);
    EXPECT_DOUBLE_EQ(laplacian_variance(blank_image(2, 2)), 0.0);
}

TEST(Sharpness, IsTheVarianceOfTheLaplacian) {
    // One white pixel in the middle of a black 5x5 picture: over the 3x3
    // interior the Laplacian is 4*255 once and -255 four times.
    Image dot = blank_image(5, 5);
    for (int c = 0; c < 3; ++c) dot.rgb[(2 * 5 + 2) * 3 + c] = 255;
    double values[9] = {0, -255, 0, -255, 1020, -255, 0, -255, 0};
    double mean = 0, sq = 0;
    for (double v : values) {
        mean += v / 9;
        sq += v * v / 9;
    }
    EXPECT_NEAR(laplacian_variance(dot), sq - mean * mean, 1e-3);
}

TEST(Sharpness, FallsAsBlurGrows) {
    double previous = laplacian_variance(checkerboard(128, 8));
    for (double sigma : {0.3, 0.6, 1.0, 2.0, 3.0, 4.0, 8.0, 16.0}) {
        Image image = checkerboard(128, 8);
        gaussian_blur(image, sigma);
        double sharpness = laplacian_variance(image);
        EXPECT_LT(sharpness, previous) << "sigma " << sigma;
        previous = sharpness;
    }
}
}  // namespace
