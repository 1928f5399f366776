#pragma once
// A camera streaming into memory-mapped driver buffers, and the frames taken
// from it.
#include "cameras/v4l2/capture_modes.h"
#include "cameras/v4l2/device_file.h"
#include "imaging/camera_frame.h"

#include <chrono>
#include <optional>
#include <string>
#include <vector>

using SteadyTime = std::chrono::steady_clock::time_point;

// A limit on the frames taken for one task (a focus sweep). Frames exposed
// before `counted_from` piled up while the app was busy and are discarded
// without counting: they cost the task no time.
struct FrameBudget {
    int left = 0;
    SteadyTime counted_from;
    int discarded = 0;  // uncounted frames
};

class VideoStream {
public:
    // Opens the node, sets the mode, maps the buffers and starts streaming.
    // Throws DeviceError: EBUSY when another program holds the camera.
    VideoStream(VideoDevices& devices, const std::string& path, CaptureMode mode);
    // Stops streaming and gives the camera back.
    ~VideoStream();
    VideoStream(const VideoStream&) = delete;
    VideoStream& operator=(const VideoStream&) = delete;

    // The mode asked for, and the mode as the driver set it: its size can
    // differ, within the driver's steps.
    CaptureMode asked_mode() const { return asked_; }
    CaptureMode mode() const { return mode_; }
    DeviceFile& device() { return device_; }
    SteadyTime started() const { return started_; }
    // Frames taken from the driver so far, skipped ones included.
    int frames_taken() const { return frames_taken_; }

    // The first frame exposed at or after `not_before`: frames already
    // waiting, those stamped earlier and damaged ones are skipped. Waits at
    // most `timeout` past `not_before` (or now, if later); a stream that
    // delivers nothing usable by then throws DeviceError (ETIMEDOUT), an
    // unplugged camera DeviceError (ENODEV).
    // With a budget, the frames taken count against it, and nullopt comes
    // back when it runs out before a fresh frame arrived.
    std::optional<CameraFrame> next_frame(SteadyTime not_before, std::chrono::milliseconds timeout,
                                          FrameBudget* budget = nullptr);

private:
    struct Mapping {
        void* address = nullptr;
        std::size_t length = 0;
    };

    // One frame from the driver, requeued at once; nullopt when none is
    // ready. `exposed` is when it was exposed (when it arrived, if the driver
    // does not say), `stale` whether that was before `not_before` or the
    // frame is damaged.
    std::optional<CameraFrame> take(SteadyTime not_before, bool& stale, SteadyTime& exposed);
    void wait_for_frame(SteadyTime deadline);

    DeviceFile device_;
    CaptureMode asked_;
    CaptureMode mode_;
    int bytes_per_line_ = 0;
    bool full_range_ = false;
    std::vector<Mapping> buffers_;
    bool streaming_ = false;
    bool timestamps_known_ = false;  // the driver stamps frames with the monotonic clock
    SteadyTime started_;
    int frames_taken_ = 0;
};
