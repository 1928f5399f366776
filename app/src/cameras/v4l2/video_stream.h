#pragma once
// A camera streaming into memory-mapped driver buffers, and the frames taken
// from it.
#include "cameras/capture_device.h"
#include "cameras/v4l2/device_file.h"

#include <vector>

class VideoStream {
public:
    // Sets the mode at the fastest rate the camera offers for it, maps the
    // buffers and starts streaming. Throws DeviceError naming the call that
    // failed (VIDIOC_STREAMON, say); the device is then left without buffers,
    // ready for another mode.
    VideoStream(DeviceFile& device, const CaptureMode& mode);
    // Stops streaming and gives the buffers back.
    ~VideoStream();
    VideoStream(const VideoStream&) = delete;
    VideoStream& operator=(const VideoStream&) = delete;

    // The mode as the driver set it: its size can differ, within the
    // driver's steps; fps is the rate it runs at (0 when it does not say).
    const CaptureMode& mode() const { return mode_; }

    // The oldest frame waiting, or the next one to arrive before `deadline`
    // (DeviceError ETIMEDOUT after it).
    CapturedFrame next(SteadyTime deadline);

private:
    struct Mapping {
        void* address = nullptr;
        std::size_t length = 0;
    };

    void release_buffers();

    DeviceFile& device_;
    CaptureMode mode_;
    int bytes_per_line_ = 0;
    bool full_range_ = false;
    std::vector<Mapping> buffers_;
    bool streaming_ = false;
    // Without the driver's stamps: when the buffers were last seen empty. A
    // frame found waiting arrived after that; one waited for, when it came.
    SteadyTime seen_empty_;
};
