#include "cameras/simulated_camera.h"

#include "imaging/blur.h"
#include "imaging/jpeg.h"
#include "imaging/region_crop.h"
#include "imaging/scale.h"
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
#ifdef _WIN32
    localtime_s(&local, &seconds);
#else
    localtime_r(&seconds, &local);
#endif
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

class SimulatedCameras final : public CameraBackend {
public:
    explicit SimulatedCameras(std::shared_ptr<SimulatedCamera> camera) : camera_(std::move(camera)) {}
    std::vector<std::shared_ptr<Camera>> list() override { return {camera_}; }

private:
    std::shared_ptr<SimulatedCamera> camera_;
};
}  // namespace

Image SimulatedCamera::render_frame(int width, int height) {
    ++frames_taken_;
    char frame[32];
    std::snprintf(frame, sizeof frame, "FRAME %06llu", static_cast<unsigned long long>(frames_taken_));
    std::string clock = clock_text();
    double zoom = control_value(controls_, "zoom") / 100.0;
    Image image = render_test_scene(width, height, zoom, SceneText{clock, frame});
    int distance = std::abs(control_value(controls_, "focus") - in_focus_at_);
    gaussian_blur(image, defocus_sigma(distance, width));
    apply_exposure(image, control_value(controls_, "exposure"), control_value(controls_, "brightness"));
    return image;
}

double defocus_sigma(int distance, int width) {
    // A quarter pixel per step at 640 pixels across: one step off is hard to
    // see, the far end of the range is a blur of about a tenth of the frame.
    return std::abs(distance) * 0.25 * width / 640.0;
}

CameraDescription SimulatedCamera::description() const {
    return {simulated_camera_id, simulated_camera_name, "simulated", true};
}

Image SimulatedCamera::capture_image(int width, int height) {
    std::lock_guard lock(mutex_);
    return render_frame(width, height);
}

std::string SimulatedCamera::capture_jpeg(const SizeRequest& size) {
    if (!size.region) {
        FrameSize target = resolve_frame_size(size, default_size());
        return encode_jpeg(capture_image(target.width, target.height));
    }
    // A region is cut from a whole frame, at the camera's own size, before
    // it is scaled.
    FrameSize own = default_size();
    FrameSize target = resolve_frame_size(size, {size.region->width, size.region->height});
    Image part = crop_to_region(capture_image(own.width, own.height), *size.region);
    if (part.width == target.width && part.height == target.height) return encode_jpeg(part);
    return encode_jpeg(scale_image(part, target.width, target.height));
}

std::vector<CameraControl> SimulatedCamera::controls() {
    std::lock_guard lock(mutex_);
    return controls_;
}

ControlChange SimulatedCamera::set_control(std::string_view name, std::int64_t value) {
    std::lock_guard lock(mutex_);
    int was = ::set_control(controls_, name, value);
    return {was, control_value(controls_, name)};
}

SweepResult SimulatedCamera::focus_sweep() {
    std::lock_guard lock(mutex_);
    const CameraControl& focus = find_control(controls_, "focus");
    SweepResult result = sweep_focus(focus.min, focus.max, [&](int position) {
        ::set_control(controls_, "focus", position);
        return laplacian_variance(render_frame(sweep_width, sweep_height));
    });
    ::set_control(controls_, "focus", result.focus);
    result.frames = static_cast<int>(result.samples.size());
    return result;
}

std::unique_ptr<CameraBackend> simulated_camera_backend(std::shared_ptr<SimulatedCamera> camera) {
    return std::make_unique<SimulatedCameras>(std::move(camera));
}
