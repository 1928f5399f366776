#include "imaging/contact_sheet.h"
#include "imaging/ppm.h"

#include <gtest/gtest.h>

namespace {
Image filled(int width, int height, std::uint8_t r, std::uint8_t g, std::uint8_t b) {
    Image image = blank_image(width, height);
    for (std::size_t i = 0; i < image.rgb.size(); i += 3) {
        image.rgb[i] = r;
        image.rgb[i + 1] = g;
        image.rgb[i + 2] = b;
    }
    return image;
}

const std::uint8_t* pixel(const Image& image, int x, int y) {
    return &image.rgb[(static_cast<std::size_t>(y) * image.width + x) * 3];
}

TEST(ContactSheet, TimesAreEvenAndLabelledShortly) {
    EXPECT_DOUBLE_EQ(sheet_frame_time(0, 4, 5), 0);
    EXPECT_DOUBLE_EQ(sheet_frame_time(1, 4, 5), 1.25);
    EXPECT_DOUBLE_EQ(sheet_frame_time(3, 4, 5), 3.75);
    const std::pair<double, const char*> labels[] = {{0, "0 s"},   {1.25, "1.25 s"},     {2.5, "2.5 s"},
                                                     {12, "12 s"}, {0.333333, "0.33 s"}, {119.999, "120 s"}};
    for (const auto& [seconds, text] : labels) EXPECT_EQ(sheet_time_label(seconds), text) << seconds;
}

TEST(ContactSheet, TilesKeepTheFrameShapeWithinTheLimit) {
    struct Case {
        FrameSize frame;
        int columns, rows;
        FrameSize tile;
    };
    const Case cases[] = {
        {{1280, 720}, 2, 1, {784, 441}},   // 1568 wide in all
        {{1280, 720}, 2, 2, {714, 402}},   // 1.15 megapixels in all
        {{1920, 1080}, 6, 6, {238, 134}},  // 36 frames
        {{320, 200}, 2, 1, {320, 200}},    // never larger than the frame
        {{720, 1280}, 1, 2, {441, 784}},   // upright: the height is the limit
    };
    for (const auto& c : cases) {
        FrameSize tile = sheet_tile_size(c.frame, c.columns, c.rows, {1568, 1'150'000});
        EXPECT_EQ(tile, c.tile) << c.frame.width << "x" << c.frame.height << " in " << c.columns << "x" << c.rows;
        EXPECT_LE(static_cast<long long>(tile.width) * c.columns * tile.height * c.rows, 1'150'000);
    }
}

TEST(ContactSheet, FramesGoLeftToRightThenDownEachWithItsTime) {
    std::vector<TimedFrame> frames;
    const std::uint8_t levels[] = {40, 80, 120, 160, 200};
    for (int i = 0; i < 5; ++i) frames.push_back({filled(200, 100, levels[i], 0, 0), i * 1.5});
    Image sheet = contact_sheet(frames, {1568, 1'150'000});
    // Five frames: three columns, two rows, at the frames' own size.
    ASSERT_EQ(sheet.width, 600);
    ASSERT_EQ(sheet.height, 200);
    for (int i = 0; i < 5; ++i) {
        int left = (i % 3) * 200, top = (i / 3) * 100;
        // Away from the label, the frame's own colour.
        EXPECT_EQ(pixel(sheet, left + 150, top + 70)[0], levels[i]) << i;
        // The label's band is darker, with white ink on it.
        bool ink = false, band = false;
        for (int y = top; y < top + 12; ++y) {
            for (int x = left; x < left + 40; ++x) {
                ink |= pixel(sheet, x, y)[1] == 255;
                band |= pixel(sheet, x, y)[0] == levels[i] / 4;
            }
        }
        EXPECT_TRUE(ink && band) << "frame " << i << " has no time on it";
    }
    // The sixth place stays empty.
    EXPECT_EQ(pixel(sheet, 500, 150)[0], 0);
}

TEST(Ppm, PicturesOneAfterTheOther) {
    std::string two = "P6\n2 1\n255\n" + std::string("\x01\x02\x03\x04\x05\x06", 6) + "P6 # a comment\n1 1 255 " +
                      std::string("\x07\x08\x09", 3);
    std::size_t at = 0;
    auto first = read_ppm(two, at);
    ASSERT_TRUE(first);
    EXPECT_EQ(first->width, 2);
    EXPECT_EQ(first->rgb, (std::vector<std::uint8_t>{1, 2, 3, 4, 5, 6}));
    auto second = read_ppm(two, at);
    ASSERT_TRUE(second);
    EXPECT_EQ(second->rgb, (std::vector<std::uint8_t>{7, 8, 9}));
    EXPECT_FALSE(read_ppm(two, at));  // the end

    for (std::string bad : {"P6\n2 1\n255\n\x01\x02", "P5\n1 1\n255\n\x01", "P6\n1 1\n65535\n\x01\x02\x03",
                            "P6\n99999999 1\n255\n", "P6\n0 1\n255\n", "P6 1 1"}) {
        std::size_t start = 0;
        EXPECT_FALSE(read_ppm(bad, start)) << bad;
        EXPECT_EQ(start, 0u);
    }
}
}  // namespace
