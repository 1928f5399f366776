#include "screen/raw_frame.h"

#include <gtest/gtest.h>

namespace {
// A 3x2 frame with a stride of 16 bytes: pixel (x, y) holds red 10*x+y,
// green 100+y, blue 200+x, in `layout`'s order; the padding and the unused
// byte hold 0xEE, which must never show.
RawFrame sample(PixelLayout layout, bool bottom_up) {
    RawFrame f;
    f.width = 3;
    f.height = 2;
    f.stride = 16;
    f.bottom_up = bottom_up;
    f.layout = layout;
    f.bytes.assign(32, 0xEE);
    for (int y = 0; y < 2; ++y) {
        int row = bottom_up ? 1 - y : y;
        for (int x = 0; x < 3; ++x) {
            std::uint8_t* p = &f.bytes[row * 16 + x * 4];
            p[layout.red] = static_cast<std::uint8_t>(10 * x + y);
            p[layout.green] = static_cast<std::uint8_t>(100 + y);
            p[layout.blue] = static_cast<std::uint8_t>(200 + x);
        }
    }
    return f;
}

TEST(RawFrame, EveryLayoutAndRowOrderGivesTheSameImage) {
    for (PixelLayout layout : {bgrx_layout, rgbx_layout, xrgb_layout, xbgr_layout}) {
        for (bool bottom_up : {false, true}) {
            Image image = frame_to_image(sample(layout, bottom_up));
            ASSERT_EQ(image.width, 3);
            ASSERT_EQ(image.height, 2);
            for (int y = 0; y < 2; ++y) {
                for (int x = 0; x < 3; ++x) {
                    const std::uint8_t* p = &image.rgb[(y * 3 + x) * 3];
                    EXPECT_EQ(p[0], 10 * x + y) << layout.ffmpeg_name << " " << bottom_up;
                    EXPECT_EQ(p[1], 100 + y) << layout.ffmpeg_name;
                    EXPECT_EQ(p[2], 200 + x) << layout.ffmpeg_name;
                }
            }
        }
    }
}

TEST(RawFrame, PackingDropsThePaddingAndFitsTheSize) {
    RawFrame f = sample(bgrx_layout, true);
    std::string packed;
    pack_frame(f, 2, 2, packed);
    ASSERT_EQ(packed.size(), 16u);
    // Top row first although stored last; the third column is cut off.
    EXPECT_EQ(std::string(packed, 0, 8), std::string(reinterpret_cast<const char*>(&f.bytes[16]), 8));
    EXPECT_EQ(std::string(packed, 8, 8), std::string(reinterpret_cast<const char*>(&f.bytes[0]), 8));

    // A frame smaller than the video (the screen shrank) is padded with black.
    pack_frame(f, 4, 3, packed);
    ASSERT_EQ(packed.size(), 48u);
    EXPECT_EQ(std::string(packed, 12, 4), std::string(4, '\0'));
    EXPECT_EQ(std::string(packed, 32, 16), std::string(16, '\0'));

    // A frame whose bytes do not hold its rows is never read past its end.
    f.bytes.resize(20);
    pack_frame(f, 3, 2, packed);
    EXPECT_EQ(packed, std::string(24, '\0'));
    EXPECT_EQ(frame_to_image(f).width, 0);
}
}  // namespace
