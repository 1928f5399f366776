#pragma once
// A webcam through Video4Linux2. It streams only while it is used and for a
// few seconds after (so that a burst of requests pays the start-up once),
// then gives the device back for other programs.
#include "cameras/camera.h"
#include "cameras/v4l2/capture_modes.h"
#include "cameras/v4l2/video_devices.h"
#include "cameras/v4l2/video_stream.h"

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

// How long a camera may take; parameters so that tests need not wait the
// real lengths.
struct CameraTimings {
    // The longest wait for a frame before the stream counts as stopped.
    std::chrono::milliseconds frame_timeout{3000};
    // The longest time spent discarding frames while exposure settles,
    // from the first frame after the stream starts.
    std::chrono::milliseconds warm_up_limit{1000};
    // How long a camera keeps streaming after its last request.
    std::chrono::milliseconds keep_streaming{3000};
};

// At most this many frames for one focus sweep (about 1.3 s at 30 frames
// per second).
inline constexpr int max_sweep_frames = 40;

// One camera as enumeration found it (see v4l2_cameras.h).
struct CameraNode {
    std::string path;  // its first capture node, "/dev/video2"
    std::string id;    // "2"
    std::string card;  // the name the driver gives it
    std::string bus;   // where it is plugged in
    bool focusable = false;
};

class V4l2Camera final : public Camera {
public:
    V4l2Camera(std::shared_ptr<VideoDevices> devices, CameraNode node, CameraTimings timings);
    ~V4l2Camera() override;

    const CameraNode& node() const { return node_; }

    CameraDescription description() const override;
    FrameSize default_size() override;
    std::string capture_jpeg(const SizeRequest& size) override;
    std::vector<CameraControl> controls() override;
    ControlChange set_control(std::string_view name, std::int64_t value) override;
    SweepResult focus_sweep() override;

private:
    // What the camera offers, read once; thread-safe.
    std::vector<CaptureMode> usable_modes();
    CaptureMode default_mode();
    // The members below expect mutex_ held.
    // Streams in `mode` (restarting if streaming otherwise) and returns a
    // frame exposed at or after `not_before`; a fresh start first waits for
    // the exposure to settle.
    CameraFrame frame_in_mode(CaptureMode mode, SteadyTime not_before);
    CameraFrame warm_up(VideoStream& stream);
    std::string jpeg_of(const CameraFrame& frame, FrameSize target);
    std::chrono::milliseconds frame_interval();
    void used_now();  // keeps the stream for keep_streaming from now
    // Runs `work` with the streaming device, or a freshly opened one.
    template <class Work>
    auto with_device(Work work);
    // Drops the stream and turns a device failure into a Fault.
    [[noreturn]] void refuse(const DeviceError& error);
    std::string label() const;

    void release_when_idle();

    std::shared_ptr<VideoDevices> devices_;
    const CameraNode node_;
    const CameraTimings timings_;

    std::mutex modes_mutex_;
    std::optional<CaptureModes> modes_;
    std::mutex mutex_;  // one user of the camera at a time
    std::unique_ptr<VideoStream> stream_;
    SteadyTime release_at_;
    std::condition_variable wake_releaser_;
    bool stopping_ = false;
    std::thread releaser_;
};
