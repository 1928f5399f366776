// The whole chain of the simulated camera: scene, defocus, sharpness, sweep.
#include "cameras/simulated_camera.h"

#include "imaging/sharpness.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {
TEST(Autofocus, LocksWithinTwoStepsOfTheHiddenPositionAndKeepsIt) {
    for (int hidden : {0, 37, 137, 221, 255}) {
        SimulatedCamera camera;
        camera.in_focus_at = hidden;
        SweepResult sweep = autofocus_camera(camera);
        EXPECT_LE(std::abs(sweep.focus - hidden), 2) << "hidden at " << hidden;
        EXPECT_EQ(control_value(camera.controls, "focus"), sweep.focus);
        EXPECT_LE(sweep.samples.size(), 40u);
    }
}

TEST(Autofocus, BlurGrowsWithDistanceFromTheSharpPosition) {
    SimulatedCamera camera;
    camera.in_focus_at = 100;
    double previous = 0;
    for (int focus : {0, 40, 80, 95, 100}) {
        set_control(camera.controls, "focus", focus);
        double sharpness = laplacian_variance(capture_camera_frame(camera, 320, 180));
        EXPECT_GT(sharpness, previous) << "focus " << focus;
        previous = sharpness;
    }
}

TEST(Autofocus, FramesHaveTheAskedSize) {
    SimulatedCamera camera;
    for (auto [w, h] : {std::pair{16, 16}, {640, 480}, {100, 1000}}) {
        Image frame = capture_camera_frame(camera, w, h);
        EXPECT_EQ(frame.width, w);
        EXPECT_EQ(frame.height, h);
        EXPECT_EQ(frame.rgb.size(), static_cast<std::size_t>(w * h * 3));
    }
}
}  // namespace
