#include "recording/yuv.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace {
struct Rgb {
    std::uint8_t r, g, b;
};

struct Yuv {
    int y, u, v;
};

Image filled(int width, int height, Rgb colour) {
    Image image = blank_image(width, height);
    for (std::size_t i = 0; i < image.rgb.size(); i += 3) {
        image.rgb[i] = colour.r;
        image.rgb[i + 1] = colour.g;
        image.rgb[i + 2] = colour.b;
    }
    return image;
}

void paint(Image& image, int x, int y, Rgb colour) {
    std::size_t at = (static_cast<std::size_t>(y) * image.width + x) * 3;
    image.rgb[at] = colour.r;
    image.rgb[at + 1] = colour.g;
    image.rgb[at + 2] = colour.b;
}

// `image` as BGRA rows `stride` bytes apart, the bytes between rows set to
// `padding`.
std::vector<std::uint8_t> bgra_of(const Image& image, std::size_t stride, std::uint8_t padding = 0xA5) {
    std::vector<std::uint8_t> bytes(stride * image.height, padding);
    for (int y = 0; y < image.height; ++y) {
        for (int x = 0; x < image.width; ++x) {
            const std::uint8_t* in = &image.rgb[(static_cast<std::size_t>(y) * image.width + x) * 3];
            std::uint8_t* out = &bytes[y * stride + x * 4];
            out[0] = in[2];
            out[1] = in[1];
            out[2] = in[0];
            out[3] = 0x17;  // whatever alpha a capture leaves there
        }
    }
    return bytes;
}

BgraRows rows_of(const std::vector<std::uint8_t>& bytes, const Image& image, std::ptrdiff_t stride) {
    return BgraRows{bytes.data(), image.width, image.height, stride};
}

bool uniform(const std::vector<std::uint8_t>& plane, int value) {
    for (auto sample : plane) {
        if (sample != value) return false;
    }
    return !plane.empty();
}

// The values ffmpeg gives for these colours (rgb24 to yuv420p): BT.601,
// limited range.
TEST(Yuv, KnownColoursGiveFfmpegsValuesFromRgbAndBgraInBothLayouts) {
    struct Case {
        const char* name;
        Rgb rgb;
        Yuv yuv;
    };
    const Case cases[] = {
        {"black", {0, 0, 0}, {16, 128, 128}},        {"white", {255, 255, 255}, {235, 128, 128}},
        {"grey", {128, 128, 128}, {126, 128, 128}},  {"red", {255, 0, 0}, {81, 90, 240}},
        {"green", {0, 255, 0}, {145, 54, 34}},       {"blue", {0, 0, 255}, {41, 240, 110}},
        {"yellow", {255, 255, 0}, {210, 16, 146}},   {"cyan", {0, 255, 255}, {170, 166, 16}},
        {"magenta", {255, 0, 255}, {106, 202, 222}}, {"orange", {255, 128, 0}, {146, 53, 193}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Image image = filled(6, 4, c.rgb);
        auto bgra = bgra_of(image, 6 * 4);
        I420Frame from_rgb = i420_from_rgb(image);
        I420Frame from_bgra = i420_from_bgra(rows_of(bgra, image, 6 * 4));
        for (const I420Frame* frame : {&from_rgb, &from_bgra}) {
            ASSERT_EQ(frame->width, 6);
            ASSERT_EQ(frame->height, 4);
            ASSERT_EQ(frame->y.size(), 24u);
            ASSERT_EQ(frame->u.size(), 6u);
            ASSERT_EQ(frame->v.size(), 6u);
            EXPECT_TRUE(uniform(frame->y, c.yuv.y)) << int(frame->y[0]);
            EXPECT_TRUE(uniform(frame->u, c.yuv.u)) << int(frame->u[0]);
            EXPECT_TRUE(uniform(frame->v, c.yuv.v)) << int(frame->v[0]);
        }
        Nv12Frame nv12_rgb = nv12_from_rgb(image);
        Nv12Frame nv12_bgra = nv12_from_bgra(rows_of(bgra, image, 6 * 4));
        for (const Nv12Frame* frame : {&nv12_rgb, &nv12_bgra}) {
            ASSERT_EQ(frame->y.size(), 24u);
            ASSERT_EQ(frame->uv.size(), 12u);
            EXPECT_TRUE(uniform(frame->y, c.yuv.y));
            for (std::size_t i = 0; i < frame->uv.size(); i += 2) {
                EXPECT_EQ(frame->uv[i], c.yuv.u) << "U at pair " << i / 2;
                EXPECT_EQ(frame->uv[i + 1], c.yuv.v) << "V at pair " << i / 2;
            }
        }
    }
}

// Each chroma sample belongs to its own 2x2 block and is the block's mean;
// luma stays per pixel, rows top to bottom.
TEST(Yuv, ChromaIsTheMeanOfItsBlockAndEveryPlaneKeepsThePicturesLayout) {
    // 4x4: top-left block red, top-right blue, bottom-left half red half
    // blue (left column red), bottom-right white with one black pixel.
    Rgb red{255, 0, 0}, blue{0, 0, 255}, white{255, 255, 255}, black{0, 0, 0};
    Image image = filled(4, 4, white);
    for (int y = 0; y < 2; ++y) {
        for (int x = 0; x < 4; ++x) paint(image, x, y, x < 2 ? red : blue);
    }
    for (int y = 2; y < 4; ++y) {
        paint(image, 0, y, red);
        paint(image, 1, y, blue);
    }
    paint(image, 3, 3, black);

    // The mean of two reds and two blues is (127.5, 0, 127.5); of three
    // whites and a black, grey 191.25.
    const std::array<int, 4> expect_u = {90, 240, 165, 128};
    const std::array<int, 4> expect_v = {240, 110, 175, 128};
    const std::array<int, 16> expect_y = {81, 81, 41,  41,   //
                                          81, 81, 41,  41,   //
                                          81, 41, 235, 235,  //
                                          81, 41, 235, 16};
    I420Frame i420 = i420_from_rgb(image);
    Nv12Frame nv12 = nv12_from_rgb(image);
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(i420.y[i], expect_y[i]) << "I420 luma " << i;
        EXPECT_EQ(nv12.y[i], expect_y[i]) << "NV12 luma " << i;
    }
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(i420.u[i], expect_u[i]) << "I420 U of block " << i;
        EXPECT_EQ(i420.v[i], expect_v[i]) << "I420 V of block " << i;
        EXPECT_EQ(nv12.uv[2 * i], expect_u[i]) << "NV12 U of block " << i;
        EXPECT_EQ(nv12.uv[2 * i + 1], expect_v[i]) << "NV12 V of block " << i;
    }
}

TEST(Yuv, OddSidesLeaveOutTheLastRowAndColumn) {
    struct Case {
        int width, height;
        int even_width, even_height;
    };
    const Case cases[] = {{5, 3, 4, 2}, {4, 3, 4, 2}, {5, 4, 4, 4}, {2, 2, 2, 2},
                          {1, 7, 0, 0}, {7, 1, 0, 0}, {1, 1, 0, 0}};
    Rgb grey{128, 128, 128}, stray{255, 0, 0};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
        // Everything the frame keeps is grey; what it leaves out is red.
        Image image = filled(c.width, c.height, stray);
        for (int y = 0; y < c.even_height; ++y) {
            for (int x = 0; x < c.even_width; ++x) paint(image, x, y, grey);
        }
        auto bgra = bgra_of(image, c.width * 4);
        I420Frame i420 = i420_from_rgb(image);
        Nv12Frame nv12 = nv12_from_bgra(rows_of(bgra, image, c.width * 4));
        EXPECT_EQ(i420.width, c.even_width);
        EXPECT_EQ(i420.height, c.even_height);
        EXPECT_EQ(nv12.width, c.even_width);
        EXPECT_EQ(nv12.height, c.even_height);
        std::size_t pixels = static_cast<std::size_t>(c.even_width) * c.even_height;
        ASSERT_EQ(i420.y.size(), pixels);
        ASSERT_EQ(i420.u.size(), pixels / 4);
        ASSERT_EQ(nv12.uv.size(), pixels / 2);
        if (pixels == 0) continue;
        EXPECT_TRUE(uniform(i420.y, 126));
        EXPECT_TRUE(uniform(i420.u, 128));
        EXPECT_TRUE(uniform(i420.v, 128));
        EXPECT_TRUE(uniform(nv12.y, 126));
        EXPECT_TRUE(uniform(nv12.uv, 128));
    }
}

// A capture's rows may be padded, or stored bottom up (a negative stride
// from the top row); neither the padding nor the order shows in the frame.
TEST(Yuv, BgraRowsAreReadThroughTheirStride) {
    Image image = blank_image(6, 4);
    for (int y = 0; y < 4; ++y) {
        for (int x = 0; x < 6; ++x) {
            paint(image, x, y, Rgb{static_cast<std::uint8_t>(40 * x), static_cast<std::uint8_t>(60 * y), 90});
        }
    }
    I420Frame expected = i420_from_rgb(image);
    ASSERT_EQ(expected.y.size(), 24u);

    for (std::size_t stride : {6u * 4, 6u * 4 + 4, 64u}) {
        SCOPED_TRACE("stride " + std::to_string(stride));
        auto bytes = bgra_of(image, stride);
        I420Frame top_down = i420_from_bgra(rows_of(bytes, image, static_cast<std::ptrdiff_t>(stride)));
        EXPECT_EQ(top_down.y, expected.y);
        EXPECT_EQ(top_down.u, expected.u);
        EXPECT_EQ(top_down.v, expected.v);

        // The same rows stored bottom row first.
        std::vector<std::uint8_t> flipped(bytes.size());
        for (int y = 0; y < 4; ++y) {
            std::copy_n(bytes.begin() + y * stride, stride, flipped.begin() + (3 - y) * stride);
        }
        BgraRows bottom_up{flipped.data() + 3 * stride, 6, 4, -static_cast<std::ptrdiff_t>(stride)};
        I420Frame from_bottom_up = i420_from_bgra(bottom_up);
        EXPECT_EQ(from_bottom_up.y, expected.y);
        EXPECT_EQ(from_bottom_up.u, expected.u);
        Nv12Frame nv12 = nv12_from_bgra(bottom_up);
        EXPECT_EQ(nv12.y, expected.y);
        ASSERT_EQ(nv12.uv.size(), 12u);
        EXPECT_EQ(nv12.uv[2], expected.u[1]);
        EXPECT_EQ(nv12.uv[3], expected.v[1]);
    }
}

// A recording fills one frame again and again: each fill holds the new
// picture whole, whatever size the frame had before.
TEST(Yuv, AFrameFilledAgainHoldsOnlyTheNewPicture) {
    Image large = filled(8, 6, Rgb{255, 0, 0});
    Image small = filled(4, 2, Rgb{0, 0, 255});
    auto small_bgra = bgra_of(small, 4 * 4);
    I420Frame i420;
    Nv12Frame nv12;
    fill_i420(large, i420);
    fill_nv12(large, nv12);
    fill_i420(rows_of(small_bgra, small, 4 * 4), i420);
    fill_nv12(small, nv12);
    EXPECT_EQ(i420.width, 4);
    EXPECT_EQ(i420.height, 2);
    EXPECT_EQ(i420.y.size(), 8u);
    EXPECT_EQ(i420.u.size(), 2u);
    EXPECT_TRUE(uniform(i420.y, 41));
    EXPECT_TRUE(uniform(i420.u, 240));
    EXPECT_TRUE(uniform(i420.v, 110));
    EXPECT_EQ(nv12.y.size(), 8u);
    EXPECT_EQ(nv12.uv.size(), 4u);
    EXPECT_EQ(nv12.uv[0], 240);
    EXPECT_EQ(nv12.uv[3], 110);

    fill_i420(BgraRows{}, i420);
    fill_nv12(Image{}, nv12);
    EXPECT_EQ(i420.width, 0);
    EXPECT_TRUE(i420.y.empty() && i420.u.empty() && i420.v.empty());
    EXPECT_EQ(nv12.height, 0);
    EXPECT_TRUE(nv12.y.empty() && nv12.uv.empty());
}

TEST(Yuv, APictureWithoutThePixelsItPromisesGivesNoFrame) {
    Image short_buffer = blank_image(8, 8);
    short_buffer.rgb.resize(8 * 8 * 3 - 1);
    Image negative;
    negative.width = -4;
    negative.height = 4;
    std::vector<std::uint8_t> bytes(8 * 8 * 4, 0);
    const BgraRows bad_rows[] = {
        {nullptr, 8, 8, 32},        // no pixels
        {bytes.data(), 8, 8, 28},   // a stride shorter than a row
        {bytes.data(), 8, 8, -28},  // likewise, bottom up
        {bytes.data(), 0, 8, 32},   // no width
        {bytes.data(), 8, -2, 32},  // a negative height
    };
    for (const Image* image : {&short_buffer, &negative}) {
        I420Frame frame = i420_from_rgb(*image);
        EXPECT_EQ(frame.width, 0);
        EXPECT_EQ(frame.height, 0);
        EXPECT_TRUE(frame.y.empty());
        EXPECT_TRUE(nv12_from_rgb(*image).uv.empty());
    }
    for (const auto& rows : bad_rows) {
        EXPECT_EQ(i420_from_bgra(rows).width, 0);
        EXPECT_TRUE(nv12_from_bgra(rows).y.empty());
    }
}
}  // namespace
