// Frames in the cameras' own formats turned into JPEGs and pictures.
#include "imaging/camera_frame.h"
#include "imaging/blur.h"
#include "imaging/jpeg.h"
#include "imaging/sharpness.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {
struct Yuv {
    std::uint8_t y, u, v;
};

// A frame of one colour; `padding` extra bytes at the end of each line.
CameraFrame uniform(PixelFormat format, int width, int height, Yuv colour, int padding = 0) {
    CameraFrame frame;
    frame.format = format;
    frame.width = width;
    frame.height = height;
    if (format == PixelFormat::yuyv) {
        frame.bytes_per_line = width * 2 + padding;
        for (int row = 0; row < height; ++row) {
            for (int x = 0; x < width / 2; ++x)
                frame.bytes += {char(colour.y), char(colour.u), char(colour.y), char(colour.v)};
            frame.bytes += std::string(padding, '\x55');
        }
    } else {
        frame.bytes_per_line = width + padding;
        for (int row = 0; row < height; ++row)
            frame.bytes += std::string(width, char(colour.y)) + std::string(padding, '\x55');
        for (int row = 0; row < height / 2; ++row) {
            for (int x = 0; x < width / 2; ++x) frame.bytes += {char(colour.u), char(colour.v)};
            frame.bytes += std::string(padding, '\x55');
        }
    }
    return frame;
}

void expect_colour(const Image& image, int r, int g, int b, const std::string& what) {
    ASSERT_FALSE(image.rgb.empty()) << what;
    std::size_t middle = (static_cast<std::size_t>(image.height / 2) * image.width + image.width / 2) * 3;
    EXPECT_NEAR(image.rgb[middle], r, 8) << what;
    EXPECT_NEAR(image.rgb[middle + 1], g, 8) << what;
    EXPECT_NEAR(image.rgb[middle + 2], b, 8) << what;
}

TEST(CameraFrame, StudioRangeYuvBecomesFullRangeColour) {
    struct Case {
        const char* name;
        Yuv yuv;
        int r, g, b;
    };
    // BT.601 in studio range: black at 16, white at 235.
    const Case colours[] = {
        {"black", {16, 128, 128}, 0, 0, 0},
        {"white", {235, 128, 128}, 255, 255, 255},
        {"red", {81, 90, 240}, 255, 0, 0},
        {"blue", {41, 240, 110}, 0, 0, 255},
    };
    for (PixelFormat format : {PixelFormat::yuyv, PixelFormat::nv12}) {
        for (const auto& c : colours) {
            std::string what = std::string(format == PixelFormat::yuyv ? "YUYV " : "NV12 ") + c.name;
            CameraFrame frame = uniform(format, 64, 48, c.yuv, 8);
            auto picture = frame_image(frame);
            ASSERT_TRUE(picture) << what;
            EXPECT_EQ(picture->width, 64);
            EXPECT_EQ(picture->height, 48);
            expect_colour(*picture, c.r, c.g, c.b, what + " as a picture");
            auto jpeg = decode_jpeg(frame_jpeg(frame));
            ASSERT_TRUE(jpeg) << what;
            EXPECT_EQ(jpeg->width, 64);
            expect_colour(*jpeg, c.r, c.g, c.b, what + " as a JPEG");
        }
    }
}

TEST(CameraFrame, FullRangeYuvIsTakenAsItIs) {
    for (PixelFormat format : {PixelFormat::yuyv, PixelFormat::nv12}) {
        CameraFrame black = uniform(format, 32, 32, {0, 128, 128}), white = uniform(format, 32, 32, {255, 128, 128});
        black.full_range = white.full_range = true;
        expect_colour(*frame_image(black), 0, 0, 0, "black");
        expect_colour(*frame_image(white), 255, 255, 255, "white");
        EXPECT_NEAR(*frame_level(white), 255.0, 0.5);
        // The same bytes read as studio range would clip: 255 is above white.
        white.full_range = false;
        expect_colour(*frame_image(white), 255, 255, 255, "clipped white");
        CameraFrame grey = uniform(format, 32, 32, {128, 128, 128});
        grey.full_range = true;
        EXPECT_NEAR(*frame_level(grey), 128.0, 0.5);
        grey.full_range = false;
        EXPECT_NEAR(*frame_level(grey), 130.4, 1.5) << "studio range stretches around the middle";
    }
}

TEST(CameraFrame, BrightnessIsMeasuredOnTheFullRange) {
    for (PixelFormat format : {PixelFormat::yuyv, PixelFormat::nv12}) {
        EXPECT_NEAR(*frame_level(uniform(format, 32, 32, {16, 128, 128})), 0.0, 0.5);
        EXPECT_NEAR(*frame_level(uniform(format, 32, 32, {235, 128, 128})), 255.0, 0.5);
        EXPECT_NEAR(*frame_level(uniform(format, 32, 32, {126, 128, 128})), 128.0, 1.5);
        // The all-zero frame some cameras send first reads as black.
        EXPECT_NEAR(*frame_level(uniform(format, 32, 32, {0, 0, 0})), 0.0, 0.5);
    }
    CameraFrame mjpeg;
    Image grey = blank_image(64, 64);
    std::fill(grey.rgb.begin(), grey.rgb.end(), 200);
    mjpeg.bytes = encode_jpeg(grey);
    EXPECT_NEAR(*frame_level(mjpeg), 200.0, 2.0);
}

TEST(CameraFrame, FramesThatCannotBeReadGiveNothing) {
    CameraFrame short_yuyv = uniform(PixelFormat::yuyv, 64, 48, {100, 128, 128});
    short_yuyv.bytes.resize(short_yuyv.bytes.size() / 2);
    CameraFrame odd = uniform(PixelFormat::nv12, 64, 48, {100, 128, 128});
    odd.width = 63;
    CameraFrame cut;
    Image grey = blank_image(64, 64);
    cut.bytes = encode_jpeg(grey);
    cut.bytes.resize(cut.bytes.size() - 10);
    for (const CameraFrame* frame : {&short_yuyv, &odd, &cut}) {
        EXPECT_EQ(frame_jpeg(*frame), "");
        EXPECT_FALSE(frame_image(*frame));
        EXPECT_FALSE(frame_level(*frame));
    }
}

TEST(CameraFrame, GreyscaleFramesBecomeGreyPictures) {
    // The infrared cameras of face logins send one full-range plane.
    CameraFrame frame;
    frame.format = PixelFormat::grey;
    frame.width = 64;
    frame.height = 48;
    frame.bytes_per_line = 64;
    frame.full_range = true;
    frame.bytes = std::string(64 * 48, char(200));
    auto picture = frame_image(frame);
    ASSERT_TRUE(picture);
    expect_colour(*picture, 200, 200, 200, "as a picture");
    auto jpeg = decode_jpeg(frame_jpeg(frame));
    ASSERT_TRUE(jpeg);
    EXPECT_EQ(jpeg->width, 64);
    expect_colour(*jpeg, 200, 200, 200, "as a JPEG");
    EXPECT_NEAR(*frame_level(frame), 200.0, 0.5);
    frame.bytes.resize(64 * 20);
    EXPECT_FALSE(frame_image(frame)) << "a frame cut short";
}

// A checkerboard of 8-pixel squares: full of edges.
Image chart(int width, int height) {
    Image image = blank_image(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            std::uint8_t v = ((x / 8) + (y / 8)) % 2 ? 230 : 30;
            for (int c = 0; c < 3; ++c) image.rgb[(static_cast<std::size_t>(y) * width + x) * 3 + c] = v;
        }
    }
    return image;
}

CameraFrame mjpeg_frame(const Image& picture) {
    CameraFrame frame;
    frame.width = picture.width;
    frame.height = picture.height;
    frame.bytes = encode_jpeg(picture, 95);
    return frame;
}

TEST(CameraFrame, AJpegReadableOnlyWithAWarningCountsAsDamaged) {
    // Packets lost in the middle of the picture, its end marker arrived: the
    // decoder fills in grey and warns.
    std::string whole = encode_jpeg(chart(640, 480));
    CameraFrame damaged;
    damaged.width = 640;
    damaged.height = 480;
    damaged.bytes = whole.substr(0, whole.size() * 3 / 5) + "\xFF\xD9";
    ASSERT_TRUE(decode_jpeg(damaged.bytes)) << "a network camera's picture would still be taken";
    EXPECT_EQ(frame_jpeg(damaged), "");
    EXPECT_FALSE(frame_image(damaged));
    EXPECT_FALSE(frame_level(damaged));
    EXPECT_FALSE(frame_sharpness(damaged));
    EXPECT_EQ(frame_reply_jpeg(damaged, FrameRegion{0, 0, 320, 240}, {320, 240}), "");
}

TEST(CameraFrame, SharpnessFallsWithBlurInEveryFormat) {
    Image sharp = chart(1280, 720), blurred = chart(1280, 720);
    gaussian_blur(blurred, 3.0);
    double sharp_jpeg = *frame_sharpness(mjpeg_frame(sharp)), blurred_jpeg = *frame_sharpness(mjpeg_frame(blurred));
    EXPECT_GT(sharp_jpeg, 4 * blurred_jpeg);
    auto yuyv = [](const Image& image) {
        CameraFrame frame;
        frame.format = PixelFormat::yuyv;
        frame.width = image.width;
        frame.height = image.height;
        frame.bytes_per_line = image.width * 2;
        for (std::size_t i = 0; i < image.rgb.size(); i += 6) {
            frame.bytes += {char(image.rgb[i]), char(128), char(image.rgb[i + 3]), char(128)};
        }
        return frame;
    };
    EXPECT_GT(*frame_sharpness(yuyv(sharp)), 4 * *frame_sharpness(yuyv(blurred)));
}

TEST(CameraFrame, ARegionIsCutFromTheFrameBeforeItIsScaled) {
    // Left half dark, right half bright.
    Image halves = blank_image(640, 480);
    for (int y = 0; y < 480; ++y) {
        for (int x = 0; x < 640; ++x) {
            std::uint8_t v = x < 320 ? 20 : 220;
            for (int c = 0; c < 3; ++c) halves.rgb[(static_cast<std::size_t>(y) * 640 + x) * 3 + c] = v;
        }
    }
    CameraFrame frame = mjpeg_frame(halves);
    struct Case {
        std::optional<FrameRegion> crop;
        FrameSize size;
        double level;
    };
    const Case cases[] = {
        {FrameRegion{320, 0, 320, 480}, {320, 480}, 220},  // at its own size
        {FrameRegion{320, 0, 320, 480}, {640, 960}, 220},  // enlarged
        {FrameRegion{0, 0, 320, 480}, {40, 60}, 20},       // shrunk, decoded at an eighth
        {std::nullopt, {320, 240}, 120},                   // the whole frame, scaled
    };
    for (const auto& c : cases) {
        auto picture = decode_jpeg(frame_reply_jpeg(frame, c.crop, c.size));
        ASSERT_TRUE(picture);
        EXPECT_EQ(picture->width, c.size.width);
        EXPECT_EQ(picture->height, c.size.height);
        double sum = 0;
        for (auto v : picture->rgb) sum += v;
        EXPECT_NEAR(sum / picture->rgb.size(), c.level, 6.0) << c.size.width << "x" << c.size.height;
    }
    // Whole and at its own size: the camera's bytes.
    EXPECT_EQ(frame_reply_jpeg(frame, std::nullopt, {640, 480}), frame_jpeg(frame));
}
}  // namespace
