#pragma once
// The simulated camera, device "sim", served only when the app is started
// with --simulated-camera: it films the test scene through a lens whose sharp
// position is hidden, so that autofocus has real work to do.
#include "cameras/camera.h"
#include "imaging/image.h"

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

inline constexpr const char* simulated_camera_id = "sim";
inline constexpr const char* simulated_camera_name = "Simulated camera (test scene)";
inline constexpr int simulated_camera_width = 1280;
inline constexpr int simulated_camera_height = 720;

class SimulatedCamera final : public Camera {
public:
    // in_focus_at: the lens position that gives a sharp picture.
    explicit SimulatedCamera(int in_focus_at) : in_focus_at_(in_focus_at) {}

    CameraDescription description() const override;
    FrameSize default_size() override { return {simulated_camera_width, simulated_camera_height}; }
    std::string capture_jpeg(const SizeRequest& size) override;
    std::vector<CameraControl> controls() override;
    ControlChange set_control(std::string_view name, std::int64_t value) override;
    // Sweeps the lens over its whole range and locks it at the sharpest
    // position found; the focus control keeps that value.
    SweepResult focus_sweep() override;

    // One frame at the camera's current settings, as a picture.
    Image capture_image(int width, int height);

private:
    Image render_frame(int width, int height);  // caller holds mutex_

    std::mutex mutex_;  // one user of the camera at a time
    std::vector<CameraControl> controls_ = simulated_camera_controls();
    int in_focus_at_;
    std::uint64_t frames_taken_ = 0;
};

// The kind that lists exactly this one camera.
std::unique_ptr<CameraBackend> simulated_camera_backend(std::shared_ptr<SimulatedCamera> camera);

// The blur, in pixels, of a frame `width` pixels wide when the lens is
// `distance` steps away from its sharp position.
double defocus_sigma(int distance, int width);
