#pragma once
// Every kind of camera the app serves, in order of preference: real cameras
// first, the simulated one (only when asked for) last.
#include "cameras/camera.h"

#include <memory>
#include <string_view>
#include <vector>

struct CameraRegistry {
    std::vector<std::unique_ptr<CameraBackend>> backends;
};

// Every camera present now, in the order of the backends.
std::vector<std::shared_ptr<Camera>> list_cameras(CameraRegistry& registry);

// The camera with this id, or null.
std::shared_ptr<Camera> find_camera(CameraRegistry& registry, std::string_view id);

// The camera used when a request names none: the first colour camera
// listed, so a real camera whenever there is one, and never the infrared
// camera of a laptop's face login. Null when there is none.
std::shared_ptr<Camera> default_camera(CameraRegistry& registry);

// What kept cameras out of the last listing, from every kind; empty when
// nothing did.
std::string camera_trouble(CameraRegistry& registry);

// The refusal text when there is no camera to default to, with the trouble
// and the cameras that see only in greyscale.
std::string no_camera_text(CameraRegistry& registry);
