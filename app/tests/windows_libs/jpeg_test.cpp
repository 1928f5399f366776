#include "imaging/jpeg.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {
Image two_colours(int width, int height) {
    Image image = blank_image(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            std::uint8_t* pixel = &image.rgb[(static_cast<std::size_t>(y) * width + x) * 3];
            bool left = x < width / 2;
            pixel[0] = left ? 200 : 40;
            pixel[1] = left ? 60 : 90;
            pixel[2] = left ? 30 : 220;
        }
    }
    return image;
}

void expect_near(const Image& image, int x, int y, int r, int g, int b) {
    const std::uint8_t* pixel = &image.rgb[(static_cast<std::size_t>(y) * image.width + x) * 3];
    EXPECT_NEAR(pixel[0], r, 8) << "red at " << x << "," << y;
    EXPECT_NEAR(pixel[1], g, 8) << "green at " << x << "," << y;
    EXPECT_NEAR(pixel[2], b, 8) << "blue at " << x << "," << y;
}

// The app's own imaging/jpeg.cpp, unchanged, over the mingw build of
// libjpeg-turbo.
TEST(JpegOnWindows, TheAppsJpegCodeWorksOverLibjpegTurbo) {
    Image picture = two_colours(320, 240);
    std::string jpeg = encode_jpeg(picture, 90);
    ASSERT_TRUE(starts_like_jpeg(jpeg));
    auto size = jpeg_size(jpeg);
    ASSERT_TRUE(size);
    EXPECT_EQ(size->width, 320);
    EXPECT_EQ(size->height, 240);

    auto decoded = decode_jpeg(jpeg);
    ASSERT_TRUE(decoded);
    ASSERT_EQ(decoded->width, 320);
    expect_near(*decoded, 80, 120, 200, 60, 30);
    expect_near(*decoded, 240, 120, 40, 90, 220);

    auto quarter = decode_jpeg_shrunk(jpeg, 4);
    ASSERT_TRUE(quarter);
    EXPECT_EQ(quarter->width, 80);
    EXPECT_EQ(quarter->height, 60);
    expect_near(*quarter, 20, 30, 200, 60, 30);

    // Quality is honoured: on detail, a lower one makes a smaller file.
    Image noise = blank_image(256, 256);
    unsigned seed = 12345;
    for (auto& byte : noise.rgb) {
        seed = seed * 1103515245u + 12345u;
        byte = static_cast<std::uint8_t>(seed >> 16);
    }
    EXPECT_LT(encode_jpeg(noise, 50).size(), encode_jpeg(noise, 95).size());
    EXPECT_FALSE(jpeg_size("not a picture"));
    EXPECT_FALSE(decode_jpeg(jpeg.substr(0, 10))) << "a header cut short";
}
}  // namespace

// Request threads encode pictures and end: a thread that ends after
// encoding must leave the encoder whole for the next, whatever mingw-w64's
// thread-local storage does at a thread's end.
TEST(JpegOnWindows, ThreadsThatEncodeAndEndLeaveTheEncoderWhole) {
    Image picture = two_colours(160, 120);
    for (int round = 0; round < 20; ++round) {
        std::vector<std::thread> threads;
        std::vector<std::string> jpegs(4);
        for (std::size_t i = 0; i < jpegs.size(); ++i) {
            threads.emplace_back([&, i] {
                // A little heap traffic of the kind a request makes.
                std::vector<std::string> noise(static_cast<std::size_t>(round % 5 + 1), std::string(100 + round, 'x'));
                jpegs[i] = encode_jpeg(picture, 80);
            });
        }
        for (auto& thread : threads) thread.join();
        for (const std::string& jpeg : jpegs) ASSERT_TRUE(decode_jpeg(jpeg)) << "round " << round;
    }
}
