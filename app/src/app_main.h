#pragma once
// The whole app, from its arguments to its exit status. The app's own entry
// hands it the system's video devices; the test build hands it a fake set.
#include "cameras/v4l2/v4l2_cameras.h"
#include "cameras/v4l2/video_devices.h"

#include <memory>
#include <string>
#include <vector>

struct CameraPlumbing {
    std::shared_ptr<VideoDevices> video_devices;
    CameraTimings timings;
};

// args without the program name.
int run_app(const std::vector<std::string>& args, const CameraPlumbing& plumbing);
