#pragma once
// The app on Linux: webcams through Video4Linux2 (the system's /dev, or the
// tests' fake devices), the screen of the session (X11, wlroots or the
// portal), recordings by ffmpeg, stopped by SIGINT, SIGTERM or SIGHUP.
#include "app_main.h"
#include "cameras/streaming_camera.h"
#include "cameras/v4l2/video_devices.h"

#include <memory>

struct CameraPlumbing {
    std::shared_ptr<VideoDevices> video_devices;
    CameraTimings timings;
};

std::unique_ptr<AppPlatform> linux_app(CameraPlumbing plumbing);
