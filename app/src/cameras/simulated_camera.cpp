#include "cameras/simulated_camera.h"

#include "imaging/blur.h"
#include "imaging/sharpness.h"
#include "imaging/test_scene.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <string>

namespace {
// Autofocus looks at a preview-sized frame, as real cameras do: it is quick
// to render and still holds every edge of the scene.
constexpr int sweep_width = 640;
constexpr int sweep_height = 360;

std::string clock_text() {
    auto now = std::chrono::system_clock::now();
    std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min, local.tm_sec,
                  static_cast<int>(millis));
    return text;
}

// Exposure scales the light reaching the sensor (50 is neutral), brightness
// shifts the levels afterwards.
void apply_exposure(Image& image, int exposure, int brightness) {
    double gain = exposure / 50.0;
    for (auto& v : image.rgb) {
        double level = v * gain + brightness;
        v = static_cast<std::uint8_t>(std::clamp(std::lround(level), 0L, 255L));
    }
}

// Caller holds camera.mutex.
Image render_frame(SimulatedCamera& camera, int width, int height) {
    ++camera.frames_taken;
    char frame[32];
    std::snprintf(frame, sizeof frame, "FRAME %06llu", static_cast<unsigned long long>(camera.frames_taken));
    std::string clock = clock_text();
    double zoom = control_value(camera.controls, "zoom") / 100.0;
    Image image = render_test_scene(width, height, zoom, SceneText{clock, frame});
    int distance = std::abs(control_value(camera.controls, "focus") - camera.in_focus_at);
    gaussian_blur(image, defocus_sigma(distance, width));
    apply_exposure(image, control_value(camera.controls, "exposure"), control_value(camera.controls, "brightness"));
    return image;
}
}  // namespace

double defocus_sigma(int distance, int width) {
    // A quarter pixel per step at 640 pixels across: one step off is hard to
    // see, the far end of the range is a blur of about a tenth of the frame.
    return std::abs(distance) * 0.25 * width / 640.0;
}

Image capture_camera_frame(SimulatedCamera& camera, int width, int height) {
    std::lock_guard lock(camera.mutex);
    return render_frame(camera, width, height);
}

std::vector<CameraControl> camera_controls(SimulatedCamera& camera) {
    std::lock_guard lock(camera.mutex);
    return camera.controls;
}

int set_camera_control(SimulatedCamera& camera, std::string_view name, std::int64_t value) {
    std::lock_guard lock(camera.mutex);
    return set_control(camera.controls, name, value);
}

SweepResult autofocus_camera(SimulatedCamera& camera) {
    std::lock_guard lock(camera.mutex);
    int min_focus = 0, max_focus = 0;
    for (const auto& control : camera.controls) {
        if (control.name == "focus") {
            min_focus = control.min;
            max_focus = control.max;
        }
    }
    SweepResult result = sweep_focus(min_focus, max_focus, [&](int focus) {
        set_control(camera.controls, "focus", focus);
        return laplacian_variance(render_frame(camera, sweep_width, sweep_height));
    });
    set_control(camera.controls, "focus", result.focus);
    return result;
}
