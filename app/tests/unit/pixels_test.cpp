#include "imaging/pixels.h"

#include <gtest/gtest.h>

namespace {
// A 4x3 picture whose pixel (x, y) has red x*10, green y*10, blue 7, in
// `layout`, rows padded to 20 bytes, stored top down or bottom up.
std::vector<std::uint8_t> pattern(const PixelLayout& layout, bool bottom_up) {
    std::vector<std::uint8_t> bytes(20 * 3, 0xEE);
    for (int y = 0; y < 3; ++y) {
        int stored = bottom_up ? 2 - y : y;
        for (int x = 0; x < 4; ++x) {
            std::uint8_t* p = &bytes[static_cast<std::size_t>(stored) * 20 + x * 4];
            p[layout.red] = static_cast<std::uint8_t>(x * 10);
            p[layout.green] = static_cast<std::uint8_t>(y * 10);
            p[layout.blue] = 7;
        }
    }
    return bytes;
}

TEST(Pixels, ViewsAreReadAndCroppedWhateverTheirLayoutAndRowOrder) {
    for (PixelLayout layout : {bgrx_layout, rgbx_layout, xrgb_layout, xbgr_layout}) {
        for (bool bottom_up : {false, true}) {
            std::vector<std::uint8_t> bytes = pattern(layout, bottom_up);
            PixelView view{bytes.data(), 4, 3, 20, bottom_up, layout};
            Image whole = image_of(view);
            ASSERT_EQ(whole.width, 4);
            ASSERT_EQ(whole.height, 3);
            EXPECT_EQ(whole.rgb[(2 * 4 + 3) * 3 + 0], 30) << layout.ffmpeg_name << bottom_up;
            EXPECT_EQ(whole.rgb[(2 * 4 + 3) * 3 + 1], 20) << layout.ffmpeg_name << bottom_up;

            Image part = image_of(crop_view(view, {1, 1, 2, 2}));
            ASSERT_EQ(part.width, 2);
            ASSERT_EQ(part.height, 2);
            std::vector<std::uint8_t> expected = {10, 10, 7, 20, 10, 7, 10, 20, 7, 20, 20, 7};
            EXPECT_EQ(part.rgb, expected) << layout.ffmpeg_name << " bottom up " << bottom_up;
        }
    }
    EXPECT_EQ(image_of(PixelView{}).width, 0);
}
}  // namespace
