#pragma once
// The webcams through Video4Linux2: streaming cameras (streaming_camera.h)
// over the kernel's capture devices, their pictures made by libjpeg-turbo.
#include "cameras/streaming_camera.h"
#include "cameras/v4l2/video_devices.h"

#include <memory>

class V4l2Cameras final : public StreamingCameras {
public:
    V4l2Cameras(std::shared_ptr<VideoDevices> devices, CameraTimings timings);
};
