#include "imaging/jpeg.h"

#include "fake_phone.h"

#include <gtest/gtest.h>

namespace {
TEST(Jpeg, APictureIsJudgedByItsHeaderBeforeDecoding) {
    std::string bomb = jpeg_declaring(16000, 16000);
    EXPECT_LT(bomb.size(), 2000u);
    auto size = jpeg_size(bomb);
    ASSERT_TRUE(size);
    EXPECT_EQ(size->width, 16000);
    EXPECT_EQ(size->height, 16000);
    EXPECT_FALSE(decodable_size(*size));
    EXPECT_FALSE(decode_jpeg(bomb)) << "never decoded, at any size";
    EXPECT_FALSE(decode_jpeg(bomb, FrameSize{64, 64}));

    struct Case {
        int width, height;
        bool decodable;
    };
    const Case cases[] = {
        {8192, 4882, true},   // just under 40 megapixels
        {8192, 4883, false},  // just over
        {8193, 100, false},  {100, 8193, false}, {6400, 6400, false}, {1, 1, true},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(decodable_size({c.width, c.height}), c.decodable) << c.width << "x" << c.height;
        auto declared = jpeg_size(jpeg_declaring(c.width, c.height));
        ASSERT_TRUE(declared);
        EXPECT_EQ(declared->width, c.width);
    }
    EXPECT_FALSE(jpeg_size("not a picture"));
    EXPECT_FALSE(jpeg_size("\xFF\xD8\xFF"));
}

TEST(Jpeg, ASmallerSizeIsDecodedAtAReducedScale) {
    struct Case {
        FrameSize native;
        std::optional<FrameSize> wanted;
        FrameSize decoded;
    };
    const Case cases[] = {
        {{4000, 3000}, std::nullopt, {4000, 3000}},         {{4000, 3000}, FrameSize{320, 240}, {500, 375}},  // 1/8
        {{4000, 3000}, FrameSize{640, 480}, {1000, 750}},                                                     // 1/4
        {{4000, 3000}, FrameSize{1000, 750}, {1000, 750}},   // 1/4 exactly
        {{4000, 3000}, FrameSize{1001, 750}, {1500, 1125}},  // 3/8
        {{4000, 3000}, FrameSize{4096, 100}, {4000, 3000}},  // larger: whole
        {{640, 480}, FrameSize{80, 60}, {80, 60}},
    };
    for (const auto& c : cases) {
        FrameSize got = decode_size(c.native, c.wanted);
        EXPECT_EQ(got.width, c.decoded.width) << c.native.width << " for " << (c.wanted ? c.wanted->width : 0);
        EXPECT_EQ(got.height, c.decoded.height) << c.native.width << " for " << (c.wanted ? c.wanted->width : 0);
    }
    Image picture = blank_image(640, 480);
    auto decoded = decode_jpeg(encode_jpeg(picture), FrameSize{100, 100});
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->width, 160);
    EXPECT_EQ(decoded->height, 120);
}
}  // namespace

namespace {
// Four bytes a pixel as screens hand them over: left half red, right half
// blue, rows padded, in each layout and row order, cropped or whole.
TEST(Jpeg, ScreenPixelsAreEncodedStraightFromTheirBuffer) {
    const int width = 64, height = 32, stride = 64 * 4 + 12;
    for (PixelLayout layout : {bgrx_layout, rgbx_layout, xrgb_layout, xbgr_layout, PixelLayout{0, 2, 1, "odd"}}) {
        for (bool bottom_up : {false, true}) {
            std::vector<std::uint8_t> bytes(static_cast<std::size_t>(stride) * height, 0);
            for (int y = 0; y < height; ++y) {
                int stored = bottom_up ? height - 1 - y : y;
                for (int x = 0; x < width; ++x) {
                    std::uint8_t* p = &bytes[static_cast<std::size_t>(stored) * stride + x * 4];
                    // The top rows are darker, so that a picture upside down shows.
                    std::uint8_t level = y < 8 ? 120 : 250;
                    p[x < width / 2 ? layout.red : layout.blue] = level;
                }
            }
            PixelView view{bytes.data(), width, height, stride, bottom_up, layout};
            for (bool cropped : {false, true}) {
                PixelView shown = cropped ? crop_view(view, {16, 0, 32, 32}) : view;
                auto picture = decode_jpeg(encode_jpeg(shown));
                ASSERT_TRUE(picture);
                ASSERT_EQ(picture->width, shown.width);
                ASSERT_EQ(picture->height, height);
                auto at = [&](int x, int y) {
                    return &picture->rgb[(static_cast<std::size_t>(y) * shown.width + x) * 3];
                };
                std::string what =
                    std::string(layout.ffmpeg_name) + (bottom_up ? " bottom up" : "") + (cropped ? " cropped" : "");
                EXPECT_GT(at(4, 20)[0], 200) << what;  // red, left
                EXPECT_LT(at(4, 20)[2], 60) << what;
                EXPECT_GT(at(shown.width - 5, 20)[2], 200) << what;  // blue, right
                EXPECT_LT(at(shown.width - 5, 20)[0], 60) << what;
                EXPECT_NEAR(at(4, 2)[0], 120, 30) << what;  // darker at the top
            }
        }
    }
}
}  // namespace
