#pragma once
// The simulated camera, device "0": it films the test scene through a lens
// whose sharp position is hidden, so that autofocus has real work to do.
#include "cameras/camera_controls.h"
#include "cameras/focus_sweep.h"
#include "imaging/image.h"

#include <cstdint>
#include <mutex>
#include <vector>

inline constexpr const char* simulated_camera_id = "0";
inline constexpr const char* simulated_camera_name = "Simulated camera (test scene)";
inline constexpr int simulated_camera_width = 1280;
inline constexpr int simulated_camera_height = 720;

struct SimulatedCamera {
    std::mutex mutex;  // one user of the camera at a time
    std::vector<CameraControl> controls = simulated_camera_controls();
    int in_focus_at = 128;  // the lens position that gives a sharp picture
    std::uint64_t frames_taken = 0;
};

// One frame at the camera's current settings. Takes the camera's lock.
Image capture_camera_frame(SimulatedCamera& camera, int width, int height);

// A copy of the knobs and their values. Takes the camera's lock.
std::vector<CameraControl> camera_controls(SimulatedCamera& camera);

// Sets one knob (see set_control) and returns its previous value. Takes the
// camera's lock.
int set_camera_control(SimulatedCamera& camera, std::string_view name, std::int64_t value);

// Sweeps the lens over its whole range and locks it at the sharpest position
// found; the focus control keeps that value. Takes the camera's lock.
SweepResult autofocus_camera(SimulatedCamera& camera);

// The blur, in pixels, of a frame `width` pixels wide when the lens is
// `distance` steps away from its sharp position.
double defocus_sigma(int distance, int width);
