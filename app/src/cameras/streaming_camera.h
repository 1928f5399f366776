#pragma once
// A webcam on any platform, over its capture device (capture_device.h). It
// streams only while it is used and for a few seconds after, so that a burst
// of requests pays the start-up once, then gives the device back for other
// programs. Every time budget follows the frame rate of the mode it streams
// in: a photo is handed out only once exposure (and, while autofocus runs,
// focus) has stopped changing, within a number of frames; after a control
// change the camera settles again before the next photo.
#include "cameras/camera.h"
#include "cameras/capture_device.h"
#include "cameras/frame_work.h"

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
    // The longest wait for a usable frame before the stream counts as
    // stopped (at least four frame periods).
    std::chrono::milliseconds frame_timeout{3000};
    // The most frames a photo waits for exposure and focus to settle: about
    // 1.3 s at 30 frames a second, 8 s at 5.
    int warm_up_frames = 40;
    // How long a camera keeps streaming after its last request.
    std::chrono::milliseconds keep_streaming{3000};
    // How long reading the controls waits for a camera busy with a photo or
    // a sweep before it answers with the values last read.
    std::chrono::milliseconds controls_wait{250};
};

// At most this many frames for one focus sweep (about 1.3 s at 30 frames
// per second).
inline constexpr int max_sweep_frames = 40;

class StreamingCamera final : public Camera {
public:
    StreamingCamera(std::shared_ptr<CaptureDevices> devices, CaptureDeviceInfo info, CameraTimings timings,
                    FrameWork work);
    ~StreamingCamera() override;

    const CaptureDeviceInfo& info() const { return info_; }

    // These two never wait for the camera, nor open its device.
    CameraDescription description() const override;
    FrameSize default_size() override;

    std::string capture_jpeg(const SizeRequest& size) override;
    std::vector<CameraControl> controls() override;
    ControlChange set_control(std::string_view name, std::int64_t value) override;
    SweepResult focus_sweep() override;

private:
    struct FrameBudget;

    // The members below expect mutex_ held.
    const std::vector<CaptureMode>& usable_modes() const;
    CaptureMode mode_for(FrameSize target, const std::optional<FrameRegion>& region) const;
    // A settled frame in `mode` exposed at or after `asked`, streaming in it
    // (restarting if streaming otherwise).
    CapturedFrame frame_in_mode(const CaptureMode& mode, SteadyTime asked, bool watch_focus);
    void start_stream(const CaptureMode& mode);
    // Frames until the picture settles, counted from `from`.
    CapturedFrame settle(SteadyTime from, bool watch_focus);
    // The next frame exposed at or after `not_before` that is whole; with a
    // budget, nullopt once it is spent.
    std::optional<CapturedFrame> next_usable(SteadyTime not_before, FrameBudget* budget = nullptr);
    std::chrono::milliseconds frame_interval() const;
    std::chrono::milliseconds frame_deadline() const;
    void drop_stream();
    void used_now();  // keeps the stream for keep_streaming from now
    std::vector<CameraControl> read_controls(CaptureDevice& device);
    template <class Work>
    auto with_device(Work work);
    void release_when_idle();

    // Each call's failures in the user's words, in one place per kind of call.
    [[noreturn]] void refuse_stream(const CaptureError& error);
    [[noreturn]] void refuse_control(std::string_view name, std::int64_t value, const CaptureError& error);
    std::string label() const;

    const std::shared_ptr<CaptureDevices> devices_;
    const CaptureDeviceInfo info_;
    const CameraTimings timings_;
    const FrameWork work_;

    std::mutex mutex_;                       // one user of the device at a time
    std::unique_ptr<CaptureDevice> device_;  // open while it streams
    std::optional<CaptureMode> asked_;       // the mode the running stream was asked for
    CaptureMode running_;                    // as the device runs it
    SteadyTime not_before_{};                // frames exposed earlier show a lens still moving
    bool resettle_ = false;                  // a control changed: settle again before the next photo
    bool resettle_focus_ = false;
    SteadyTime resettle_from_{};
    bool autofocus_on_ = false;  // as the controls last said
    SteadyTime release_at_;
    std::condition_variable wake_releaser_;
    bool stopping_ = false;
    std::thread releaser_;

    std::mutex reported_mutex_;
    std::optional<std::vector<CameraControl>> reported_;  // the controls as the camera last reported them
};

// Every camera of one kind of capture device. The list is kept, and read
// again only when the devices may have changed (the platform's hot-plug
// notice), or at most once a second where it gives none: listing opens the
// devices, which can wake a USB camera from its power saving.
class StreamingCameras : public CameraBackend {
public:
    StreamingCameras(std::shared_ptr<CaptureDevices> devices, CameraTimings timings, FrameWork work);

    std::vector<std::shared_ptr<Camera>> list() override;
    std::string trouble() override;

private:
    void refresh(std::optional<std::uint64_t> stamp);

    std::shared_ptr<CaptureDevices> devices_;
    CameraTimings timings_;
    FrameWork work_;

    std::mutex refresh_mutex_;  // one listing at a time
    std::mutex mutex_;          // the members below
    bool listed_ = false;
    std::optional<std::uint64_t> stamp_;  // changes() at the last listing
    SteadyTime listed_at_{};
    std::vector<std::shared_ptr<StreamingCamera>> cameras_;
    std::vector<std::string> trouble_;
};
