// The whole chain of the simulated camera: scene, defocus, sharpness, sweep.
#include "cameras/simulated_camera.h"
#include "imaging/jpeg.h"
#include "imaging/region_crop.h"
#include "imaging/sharpness.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {
TEST(Autofocus, LocksWithinTwoStepsOfTheHiddenPositionAndKeepsIt) {
    for (int hidden : {0, 37, 137, 221, 255}) {
        SimulatedCamera camera(hidden);
        SweepResult sweep = camera.focus_sweep();
        EXPECT_LE(std::abs(sweep.focus - hidden), 2) << "hidden at " << hidden;
        EXPECT_EQ(control_value(camera.controls(), "focus"), sweep.focus);
        EXPECT_LE(sweep.samples.size(), 40u);
        EXPECT_EQ(sweep.frames, static_cast<int>(sweep.samples.size()));
    }
}

TEST(Autofocus, BlurGrowsWithDistanceFromTheSharpPosition) {
    SimulatedCamera camera(100);
    double previous = 0;
    for (int focus : {0, 40, 80, 95, 100}) {
        camera.set_control("focus", focus);
        double sharpness = laplacian_variance(camera.capture_image(320, 180));
        EXPECT_GT(sharpness, previous) << "focus " << focus;
        previous = sharpness;
    }
}

TEST(Autofocus, FramesHaveTheAskedSize) {
    SimulatedCamera camera(128);
    for (auto [w, h] : {std::pair{16, 16}, {640, 480}, {100, 1000}}) {
        Image frame = camera.capture_image(w, h);
        EXPECT_EQ(frame.width, w);
        EXPECT_EQ(frame.height, h);
        EXPECT_EQ(frame.rgb.size(), static_cast<std::size_t>(w * h * 3));
    }
    // A JPEG follows the camera's 16:9 aspect when one side is missing.
    auto jpeg = decode_jpeg(camera.capture_jpeg({640, std::nullopt}));
    ASSERT_TRUE(jpeg);
    EXPECT_EQ(jpeg->width, 640);
    EXPECT_EQ(jpeg->height, 360);
}

TEST(Autofocus, SetControlReportsBeforeAndAfter) {
    SimulatedCamera camera(128);
    ControlChange change = camera.set_control("zoom", 250);
    EXPECT_EQ(change.was, 100);
    EXPECT_EQ(change.value, 250);
}

TEST(Autofocus, ARegionIsCutFromTheWholeFrameBeforeItIsScaled) {
    SimulatedCamera camera(128);
    camera.set_control("focus", 128);
    const FrameRegion corner{0, 0, 320, 180};
    Image whole = camera.capture_image(simulated_camera_width, simulated_camera_height);
    Image expected = crop_to_region(whole, corner);
    auto mean = [](const Image& image) {
        double sum = 0;
        for (auto v : image.rgb) sum += v;
        return sum / static_cast<double>(image.rgb.size());
    };
    for (FrameSize size : {FrameSize{320, 180}, FrameSize{640, 360}}) {
        auto part = decode_jpeg(camera.capture_jpeg({size.width, std::nullopt, corner}));
        ASSERT_TRUE(part);
        EXPECT_EQ(part->width, size.width);
        EXPECT_EQ(part->height, size.height);
        EXPECT_NEAR(mean(*part), mean(expected), 4.0) << "the corner, not the whole scene shrunk";
        EXPECT_GT(std::abs(mean(*part) - mean(whole)), 8.0) << "the corner differs from the whole scene";
    }
}
}  // namespace
