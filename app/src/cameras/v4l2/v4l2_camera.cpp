#include "cameras/v4l2/v4l2_camera.h"

#include "cameras/v4l2/v4l2_controls.h"
#include "cameras/v4l2/warm_up.h"
#include "fault.h"
#include "imaging/jpeg.h"
#include "imaging/scale.h"
#include "imaging/sharpness.h"

#include <linux/videodev2.h>

#include <cerrno>

namespace {
using std::chrono::milliseconds;
using std::chrono::steady_clock;

// The size a request without one gets, when the camera offers it; else the
// nearest it offers.
constexpr FrameSize preferred_size{1280, 720};

// A frame that cannot be read (damaged on the way) is replaced by the next
// one, this many times.
constexpr int readable_frame_attempts = 3;

// A sweep moves the lens to coarse positions an eighth of its range apart,
// then halves the step around the best one: about 20 positions, each
// costing two frames exposed after the move (one while the lens settles,
// one measured), so at most max_sweep_frames.
constexpr SweepPlan lens_sweep_plan{8, 2, 1};

bool gone(int error) {
    return error == ENODEV || error == ENOENT || error == ENXIO;
}
}  // namespace

V4l2Camera::V4l2Camera(std::shared_ptr<VideoDevices> devices, CameraNode node, CameraTimings timings)
    : devices_(std::move(devices)), node_(std::move(node)), timings_(timings) {
    releaser_ = std::thread([this] { release_when_idle(); });
}

V4l2Camera::~V4l2Camera() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_releaser_.notify_all();
    releaser_.join();
}

CameraDescription V4l2Camera::description() const {
    return {node_.id, node_.card, "video4linux", node_.focusable};
}

std::string V4l2Camera::label() const {
    return "camera " + node_.id + " (" + node_.card + ")";
}

void V4l2Camera::refuse(const DeviceError& error) {
    stream_.reset();
    if (error.error == EBUSY) {
        throw Fault{FaultKind::busy,
                    label() + " is busy: another program is using it; close that program and try again"};
    }
    if (gone(error.error)) throw Fault{FaultKind::gone, label() + " is gone: it was unplugged"};
    if (error.error == ETIMEDOUT) {
        throw Fault{FaultKind::timed_out, label() + " stopped sending frames (none usable for " +
                                              std::to_string(timings_.frame_timeout.count()) + " ms)"};
    }
    if (error.error == EACCES || error.error == EPERM) {
        throw Fault{FaultKind::denied, "cannot use " + label() + " at " + node_.path +
                                           ": permission denied (is this user in the video group?)"};
    }
    throw Fault{FaultKind::failed, label() + " failed: " + error.what()};
}

template <class Work>
auto V4l2Camera::with_device(Work work) {
    if (stream_) return work(stream_->device());
    DeviceFile device(*devices_, node_.path);
    return work(device);
}

std::vector<CaptureMode> V4l2Camera::usable_modes() {
    std::lock_guard lock(modes_mutex_);
    // Read once, on a descriptor of its own: any descriptor may ask, even
    // while another streams.
    if (!modes_) {
        DeviceFile device(*devices_, node_.path);
        modes_ = read_capture_modes(device);
    }
    if (modes_->usable.empty()) {
        std::string offered;
        for (const auto& name : modes_->other_formats) offered += (offered.empty() ? "" : ", ") + name;
        throw Fault{FaultKind::bad_source, label() + " offers no picture format vistrel-app can read (it offers " +
                                               (offered.empty() ? "none" : offered) +
                                               "; MJPEG, YUYV and NV12 can be read)"};
    }
    return modes_->usable;
}

CaptureMode V4l2Camera::default_mode() {
    return choose_mode(usable_modes(), preferred_size);
}

FrameSize V4l2Camera::default_size() {
    // Without the camera's lock: /health must not wait for a sweep.
    try {
        return default_mode().size;
    } catch (const DeviceError&) {
        return preferred_size;
    } catch (const Fault&) {
        return preferred_size;
    }
}

void V4l2Camera::used_now() {
    release_at_ = steady_clock::now() + timings_.keep_streaming;
    wake_releaser_.notify_all();
}

void V4l2Camera::release_when_idle() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        if (!stream_) {
            wake_releaser_.wait(lock);
        } else if (steady_clock::now() >= release_at_) {
            stream_.reset();
        } else {
            wake_releaser_.wait_until(lock, release_at_);
        }
    }
}

CameraFrame V4l2Camera::warm_up(VideoStream& stream) {
    WarmUp judge;
    auto frame = stream.next_frame(stream.started(), timings_.frame_timeout);
    // Counted from the first frame: some cameras take most of a second to
    // send one, and it is the frames after it that are dark.
    auto give_up = steady_clock::now() + timings_.warm_up_limit;
    while (!judge.settled_with(frame_level(*frame)) && steady_clock::now() < give_up) {
        frame = stream.next_frame(stream.started(), timings_.frame_timeout);
    }
    return *frame;
}

CameraFrame V4l2Camera::frame_in_mode(CaptureMode mode, SteadyTime not_before) {
    bool kept = stream_ && stream_->asked_mode().format == mode.format && stream_->asked_mode().size == mode.size;
    if (kept) {
        try {
            return *stream_->next_frame(not_before, timings_.frame_timeout);
        } catch (const DeviceError& error) {
            // A stream kept from an earlier request may belong to a camera
            // unplugged and plugged in again since; a fresh start tells.
            if (!gone(error.error) && error.error != EIO) throw;
        }
    }
    stream_.reset();
    stream_ = std::make_unique<VideoStream>(*devices_, node_.path, mode);
    return warm_up(*stream_);
}

std::string V4l2Camera::jpeg_of(const CameraFrame& frame, FrameSize target) {
    // At the asked size the camera's own JPEG goes out untouched (but for
    // missing Huffman tables), and YUV is compressed as it came.
    if (FrameSize{frame.width, frame.height} == target) return frame_jpeg(frame);
    auto picture = frame_image(frame);
    if (!picture) return {};
    return encode_jpeg(scale_image(*picture, target.width, target.height));
}

std::string V4l2Camera::capture_jpeg(const SizeRequest& size) {
    std::lock_guard lock(mutex_);
    auto asked = steady_clock::now();
    try {
        FrameSize target = resolve_frame_size(size, default_mode().size);
        CaptureMode mode = choose_mode(usable_modes(), target);
        for (int attempt = 0; attempt < readable_frame_attempts; ++attempt) {
            std::string jpeg = jpeg_of(frame_in_mode(mode, asked), target);
            used_now();
            if (!jpeg.empty()) return jpeg;
        }
    } catch (const DeviceError& error) {
        refuse(error);
    }
    throw Fault{FaultKind::bad_source,
                label() + " sent " + std::to_string(readable_frame_attempts) + " frames in a row that cannot be read"};
}

std::vector<CameraControl> V4l2Camera::controls() {
    std::lock_guard lock(mutex_);
    try {
        return with_device([](DeviceFile& device) { return read_controls(device); });
    } catch (const DeviceError& error) {
        refuse(error);
    }
}

ControlChange V4l2Camera::set_control(std::string_view name, std::int64_t value) {
    std::lock_guard lock(mutex_);
    try {
        return with_device([&](DeviceFile& device) { return write_control(device, name, value); });
    } catch (const DeviceError& error) {
        refuse(error);
    }
}

std::chrono::milliseconds V4l2Camera::frame_interval() {
    v4l2_streamparm parameters{};
    parameters.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    const auto& per_frame = parameters.parm.capture.timeperframe;
    if (stream_->device().call(VIDIOC_G_PARM, &parameters) < 0 || per_frame.denominator == 0 ||
        per_frame.numerator == 0) {
        return milliseconds(1000 / 30);
    }
    return milliseconds(1000LL * per_frame.numerator / per_frame.denominator + 1);
}

SweepResult V4l2Camera::focus_sweep() {
    std::lock_guard lock(mutex_);
    try {
        auto range = with_device([](DeviceFile& device) { return focus_range(device); });
        if (!range) throw Fault{FaultKind::bad_argument, label() + " has no focus control; it cannot focus"};
        // The sweep measures in whatever mode the camera streams in already,
        // so that a photo right after it (look) finds the camera warm.
        if (!stream_) frame_in_mode(default_mode(), steady_clock::now());
        DeviceFile& device = stream_->device();
        switch_autofocus_off(device);
        milliseconds settle = frame_interval();

        FrameBudget budget{max_sweep_frames, {}, 0};
        SweepPlan plan = lens_sweep_plan;
        plan.step = range->step;
        SweepResult result = sweep_focus(
            range->min, range->max,
            [&](int position) -> std::optional<double> {
                // Each position costs at least the frame exposed while the
                // lens settles and the frame measured; frames that waited in
                // the buffers since before the move are dropped uncounted.
                if (budget.left < 2) return std::nullopt;
                move_lens(device, position);
                budget.counted_from = steady_clock::now();
                auto frame = stream_->next_frame(budget.counted_from + settle, timings_.frame_timeout, &budget);
                if (!frame) return std::nullopt;
                // Half the size holds every edge that matters and costs a
                // quarter of the work, which keeps up with the frame rate.
                auto picture = frame_image(*frame, 2);
                return picture ? laplacian_variance(*picture) : 0.0;
            },
            plan);
        move_lens(device, result.focus);
        result.frames = max_sweep_frames - budget.left;
        result.discarded = budget.discarded;
        used_now();
        return result;
    } catch (const DeviceError& error) {
        refuse(error);
    }
}
