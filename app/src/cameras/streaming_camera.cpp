#include "cameras/streaming_camera.h"

#include "cameras/mode_choice.h"
#include "cameras/warm_up.h"
#include "fault.h"

#include <algorithm>
#include <cmath>

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

// Controls whose change the picture takes frames to follow: the automatic
// modes, and what moves the lens or sets the exposure.
bool settles_after(std::string_view name) {
    for (const char* slow :
         {"auto_exposure", "exposure", "gain", "autofocus", "focus", "zoom", "auto_white_balance", "white_balance"}) {
        if (name == slow) return true;
    }
    return false;
}

bool moves_lens(std::string_view name) {
    return name == "autofocus" || name == "focus" || name == "zoom";
}

std::string automatic_mode_words(const std::string& control) {
    if (control == "auto_exposure") return "its automatic exposure";
    if (control == "autofocus") return "its continuous autofocus";
    if (control == "auto_white_balance") return "its automatic white balance";
    return "its " + control;
}

std::optional<CameraControl> find(const std::vector<CameraControl>& controls, std::string_view name) {
    for (const auto& control : controls) {
        if (control.name == name) return control;
    }
    return std::nullopt;
}

bool same_device(const CaptureDeviceInfo& a, const CaptureDeviceInfo& b) {
    auto same_modes = [](const std::vector<CaptureMode>& x, const std::vector<CaptureMode>& y) {
        return std::equal(x.begin(), x.end(), y.begin(), y.end(),
                          [](const CaptureMode& m, const CaptureMode& n) { return same_mode(m, n) && m.fps == n.fps; });
    };
    return a.id == b.id && a.link == b.link && a.identity == b.identity && a.name == b.name &&
           a.focusable == b.focusable && a.colour == b.colour && a.other_formats == b.other_formats &&
           same_modes(a.modes, b.modes);
}

// A region of a frame of `own` size, in the pixels of a frame of `size`.
FrameRegion region_in(const FrameRegion& region, FrameSize own, FrameSize size) {
    const double sx = static_cast<double>(size.width) / std::max(1, own.width);
    const double sy = static_cast<double>(size.height) / std::max(1, own.height);
    int left = std::clamp(static_cast<int>(std::floor(region.x * sx)), 0, size.width - 1);
    int top = std::clamp(static_cast<int>(std::floor(region.y * sy)), 0, size.height - 1);
    int right = std::clamp(static_cast<int>(std::ceil((region.x + region.width) * sx)), left + 1, size.width);
    int bottom = std::clamp(static_cast<int>(std::ceil((region.y + region.height) * sy)), top + 1, size.height);
    return {left, top, right - left, bottom - top};
}
}  // namespace

// A limit on the frames taken for one task (a focus sweep). Frames exposed
// before `counted_from` piled up while the app was busy and are discarded
// without counting: they cost the task no time.
struct StreamingCamera::FrameBudget {
    int left = 0;
    SteadyTime counted_from;
    int discarded = 0;
};

StreamingCamera::StreamingCamera(std::shared_ptr<CaptureDevices> devices, CaptureDeviceInfo info, CameraTimings timings,
                                 FrameWork work)
    : devices_(std::move(devices)), info_(std::move(info)), timings_(timings), work_(std::move(work)) {
    releaser_ = std::thread([this] { release_when_idle(); });
}

StreamingCamera::~StreamingCamera() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_releaser_.notify_all();
    releaser_.join();
    drop_stream();
}

CameraDescription StreamingCamera::description() const {
    return {info_.id, info_.name, devices_->kind(), info_.focusable, info_.colour};
}

std::string StreamingCamera::label() const {
    return "camera " + info_.id + " (" + info_.name + ")";
}

FrameSize StreamingCamera::default_size() {
    // From the modes listing found: /health and /devices never wait for the
    // camera.
    if (info_.modes.empty()) return preferred_size;
    return choose_mode(info_.modes, preferred_size).size;
}

const std::vector<CaptureMode>& StreamingCamera::usable_modes() const {
    if (info_.modes.empty()) {
        std::string offered;
        for (const auto& name : info_.other_formats) offered += (offered.empty() ? "" : ", ") + name;
        throw Fault{FaultKind::bad_source, label() + " offers no picture format vistrel-app can read (it offers " +
                                               (offered.empty() ? "none" : offered) +
                                               "; MJPEG, YUYV and NV12 can be read)"};
    }
    return info_.modes;
}

CaptureMode StreamingCamera::mode_for(FrameSize target, const std::optional<FrameRegion>& region) const {
    const auto& usable = usable_modes();
    if (!region) return choose_mode(usable, target);
    // A region is cut from a frame that shows what the camera's own size
    // shows, large enough that the region holds the asked pixels: a region
    // of a 1920x1080 frame keeps that frame's sharpness.
    FrameSize own = choose_mode(usable, preferred_size).size;
    auto shaped = modes_shaped_like(usable, own);
    auto needed = [](int asked, int whole, int part) {
        long long side = (static_cast<long long>(asked) * whole + part - 1) / std::max(1, part);
        return static_cast<int>(std::min<long long>(side, 1 << 16));
    };
    FrameSize wanted{needed(target.width, own.width, region->width), needed(target.height, own.height, region->height)};
    return choose_mode(shaped.empty() ? usable : shaped, wanted);
}

milliseconds StreamingCamera::frame_interval() const {
    if (running_.fps <= 0) return milliseconds(34);
    return milliseconds(static_cast<long long>(std::ceil(1000.0 / running_.fps)));
}

milliseconds StreamingCamera::frame_deadline() const {
    return std::max(timings_.frame_timeout, 4 * frame_interval());
}

void StreamingCamera::used_now() {
    release_at_ = steady_clock::now() + timings_.keep_streaming;
    wake_releaser_.notify_all();
}

void StreamingCamera::release_when_idle() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        if (!device_) {
            wake_releaser_.wait(lock);
        } else if (steady_clock::now() >= release_at_) {
            drop_stream();
        } else {
            wake_releaser_.wait_until(lock, release_at_);
        }
    }
}

void StreamingCamera::drop_stream() {
    if (device_) {
        device_->stop();
        device_.reset();
    }
    asked_.reset();
    resettle_ = resettle_focus_ = false;
    not_before_ = {};
}

template <class Work>
auto StreamingCamera::with_device(Work work) {
    if (device_) return work(*device_);
    std::unique_ptr<CaptureDevice> device = devices_->open(info_);
    return work(*device);
}

std::vector<CameraControl> StreamingCamera::read_controls(CaptureDevice& device) {
    std::vector<CameraControl> controls = device.controls();
    auto autofocus = find(controls, "autofocus");
    autofocus_on_ = autofocus && autofocus->value != 0;
    std::lock_guard lock(reported_mutex_);
    reported_ = controls;
    return controls;
}

std::optional<CapturedFrame> StreamingCamera::next_usable(SteadyTime not_before, FrameBudget* budget) {
    // One bound for the whole wait, so that a camera sending only damaged
    // or old frames is given up like one sending none.
    auto deadline = std::max(steady_clock::now(), not_before) + frame_deadline();
    for (;;) {
        CapturedFrame frame = device_->next_frame(deadline);
        bool spent = false;
        if (budget) {
            if (frame.exposed < budget->counted_from) {
                ++budget->discarded;
            } else {
                spent = --budget->left <= 0;
            }
        }
        // Damaged, arrived empty, or exposed before it was asked for.
        if (!frame.damaged && !frame.frame.bytes.empty() && frame.exposed >= not_before) return frame;
        if (spent) return std::nullopt;
    }
}

CapturedFrame StreamingCamera::settle(SteadyTime from, bool watch_focus) {
    WarmUp judge(watch_focus);
    SteadyTime previous{};
    std::optional<CapturedFrame> readable;  // at the bound, the last frame that could be read
    for (int frames = 1;; ++frames) {
        CapturedFrame frame = *next_usable(from);
        // A frame exposed more than two and a half periods after the one
        // before follows frames dropped while the app fell behind (one
        // damaged frame in between is fine).
        if (previous != SteadyTime{} && frame.exposed - previous > frame_interval() * 5 / 2) judge.frames_missed();
        previous = frame.exposed;
        auto look = work_.look(frame.frame, watch_focus);
        std::optional<bool> focused = watch_focus ? device_->focus_settled() : std::nullopt;
        if (judge.settled_with(look, focused)) return frame;
        if (look) readable = frame;
        if (frames >= timings_.warm_up_frames) return readable ? *readable : frame;
    }
}

void StreamingCamera::start_stream(const CaptureMode& mode) {
    device_ = devices_->open(info_);
    try {
        read_controls(*device_);
    } catch (const CaptureError& error) {
        // A camera whose controls cannot be read still films.
        if (error.failure == CaptureFailure::gone) throw;
    }
    CaptureMode trying = mode;
    std::vector<CaptureMode> tried;
    for (;;) {
        try {
            running_ = device_->start(trying);
            break;
        } catch (const CaptureError& error) {
            if (error.failure != CaptureFailure::no_bandwidth) throw;
            // Retried in a mode that needs less of the bus: compressed, or
            // smaller (and scaled up to the asked size).
            tried.push_back(trying);
            std::vector<CaptureMode> lighter;
            for (const auto& candidate : lighter_modes(usable_modes(), trying)) {
                bool seen = std::any_of(tried.begin(), tried.end(),
                                        [&](const CaptureMode& done) { return same_mode(done, candidate); });
                if (!seen) lighter.push_back(candidate);
            }
            if (lighter.empty()) {
                drop_stream();
                throw Fault{FaultKind::exhausted, label() +
                                                      " cannot stream: its USB bus has no room left for any of its "
                                                      "modes (another camera on the same bus may be using it)"};
            }
            trying = choose_mode(lighter, mode.size);
        }
    }
    asked_ = mode;
    not_before_ = {};
    resettle_ = resettle_focus_ = false;
}

CapturedFrame StreamingCamera::frame_in_mode(const CaptureMode& mode, SteadyTime asked, bool watch_focus) {
    if (device_ && asked_ && same_mode(*asked_, mode)) {
        try {
            if (resettle_) {
                bool focus = resettle_focus_ || (watch_focus && autofocus_on_);
                SteadyTime from = std::max(asked, resettle_from_);
                resettle_ = resettle_focus_ = false;
                return settle(from, focus);
            }
            return *next_usable(std::max(asked, not_before_));
        } catch (const CaptureError& error) {
            // A stream kept from an earlier request may belong to a camera
            // unplugged and plugged in again since; a fresh start tells.
            if (error.failure != CaptureFailure::gone) throw;
        }
    }
    // A stream that breaks while the camera warms up is started once more:
    // a driver that gave up on its stream (EIO from the queue) streams again,
    // and a camera that is gone is told by the open.
    for (int attempt = 1;; ++attempt) {
        drop_stream();
        SteadyTime started = steady_clock::now();
        start_stream(mode);
        try {
            return settle(started, watch_focus && autofocus_on_);
        } catch (const CaptureError& error) {
            if (error.failure != CaptureFailure::gone || attempt == 2) throw;
        }
    }
}

std::string StreamingCamera::capture_jpeg(const SizeRequest& size) {
    std::unique_lock lock(mutex_);
    SteadyTime asked = steady_clock::now();
    FrameSize own = default_size();
    FrameSize source = size.region ? FrameSize{size.region->width, size.region->height} : own;
    FrameSize target = resolve_frame_size(size, source);
    CaptureMode mode = mode_for(target, size.region);
    try {
        for (int attempt = 0; attempt < readable_frame_attempts; ++attempt) {
            CapturedFrame frame = frame_in_mode(mode, asked, true);
            std::optional<FrameRegion> crop;
            if (size.region) crop = region_in(*size.region, own, {frame.frame.width, frame.frame.height});
            std::string jpeg = work_.jpeg(frame.frame, crop, target);
            used_now();
            if (!jpeg.empty()) return jpeg;
        }
    } catch (const CaptureError& error) {
        refuse_stream(error);
    }
    throw Fault{FaultKind::bad_source,
                label() + " sent " + std::to_string(readable_frame_attempts) + " frames in a row that cannot be read"};
}

std::vector<CameraControl> StreamingCamera::controls() {
    // Tried every few milliseconds rather than waited for with a deadline:
    // a plain mutex, which the thread sanitizer follows.
    std::unique_lock lock(mutex_, std::try_to_lock);
    for (auto until = steady_clock::now() + timings_.controls_wait; !lock.owns_lock() && steady_clock::now() < until;) {
        std::this_thread::sleep_for(milliseconds(5));
        lock.try_lock();
    }
    if (lock.owns_lock()) {
        try {
            return with_device([&](CaptureDevice& device) { return read_controls(device); });
        } catch (const CaptureError& error) {
            refuse_control({}, 0, error);
        }
    }
    // Busy with a photo or a sweep: the values the camera reported last.
    std::lock_guard reported(reported_mutex_);
    if (reported_) return *reported_;
    throw Fault{FaultKind::busy, label() + " is busy with a photo or a focus sweep; try again in a moment"};
}

ControlChange StreamingCamera::set_control(std::string_view name, std::int64_t value) {
    std::unique_lock lock(mutex_);
    try {
        ControlChange change = with_device([&](CaptureDevice& device) {
            ControlChange made = device.set_control(name, value);
            read_controls(device);
            return made;
        });
        if (device_) {
            // Frames exposed before the change do not show it; some
            // changes take the camera several frames to follow.
            auto now = steady_clock::now();
            not_before_ = std::max(not_before_, now);
            if (settles_after(name)) {
                resettle_ = true;
                resettle_from_ = now;
                resettle_focus_ = resettle_focus_ || moves_lens(name);
            }
        }
        return change;
    } catch (const CaptureError& error) {
        refuse_control(name, value, error);
    }
}

SweepResult StreamingCamera::focus_sweep() {
    std::unique_lock lock(mutex_);
    try {
        auto controls = with_device([&](CaptureDevice& device) { return read_controls(device); });
        auto focus = find(controls, "focus");
        if (!focus || focus->max <= focus->min) {
            throw Fault{FaultKind::bad_argument, label() + " has no focus control; it cannot focus"};
        }
        // The sweep measures in whatever mode the camera streams in already,
        // so that a photo right after it (look) finds the camera warm; a
        // camera that has to start waits for its exposure only.
        if (!device_) frame_in_mode(mode_for(default_size(), std::nullopt), steady_clock::now(), false);
        if (autofocus_on_) device_->set_control("autofocus", 0);
        autofocus_on_ = false;
        const milliseconds settle = frame_interval();

        FrameBudget budget{max_sweep_frames, {}, 0};
        SweepPlan plan = lens_sweep_plan;
        plan.step = std::max(1, focus->step);
        SweepResult result = sweep_focus(
            focus->min, focus->max,
            [&](int position) -> std::optional<double> {
                // Each position costs at least the frame exposed while the
                // lens settles and the frame measured; frames that waited in
                // the buffers since before the move are dropped uncounted.
                if (budget.left < 2) return std::nullopt;
                device_->set_control("focus", position);
                budget.counted_from = steady_clock::now();
                auto frame = next_usable(budget.counted_from + settle, &budget);
                if (!frame) return std::nullopt;
                auto look = work_.look(frame->frame, true);
                return look ? look->sharpness : 0.0;
            },
            plan);
        device_->set_control("focus", result.focus);
        // The lens gets there within a frame period: a photo right after
        // the sweep waits for it.
        not_before_ = steady_clock::now() + settle;
        resettle_ = resettle_focus_ = false;
        read_controls(*device_);
        result.frames = max_sweep_frames - budget.left;
        result.discarded = budget.discarded;
        used_now();
        return result;
    } catch (const CaptureError& error) {
        refuse_stream(error);
    }
}

void StreamingCamera::refuse_stream(const CaptureError& error) {
    const milliseconds waited = frame_deadline();
    drop_stream();
    switch (error.failure) {
        case CaptureFailure::busy:
            throw Fault{FaultKind::busy,
                        label() + " is busy: another program is using it; close that program and try again"};
        case CaptureFailure::gone:
            throw Fault{FaultKind::gone, label() + " is gone: it was unplugged"};
        case CaptureFailure::timed_out:
            throw Fault{FaultKind::timed_out, label() + " stopped sending frames (none usable for " +
                                                  std::to_string(waited.count()) + " ms)"};
        case CaptureFailure::denied:
            throw Fault{FaultKind::denied, "cannot use " + label() + " at " + info_.link + ": permission denied (" +
                                               devices_->access_advice() + ")"};
        case CaptureFailure::no_bandwidth:
            throw Fault{FaultKind::exhausted,
                        label() + " cannot stream: its USB bus has no room left (" + std::string(error.what()) + ")"};
        case CaptureFailure::unsupported:
            throw Fault{FaultKind::unsupported, label() + " cannot do that: " + error.what()};
        case CaptureFailure::automatic:
        case CaptureFailure::bad_value:
        case CaptureFailure::failed:
            break;
    }
    throw Fault{FaultKind::failed, label() + " failed: " + error.what()};
}

void StreamingCamera::refuse_control(std::string_view name, std::int64_t value, const CaptureError& error) {
    // Only a camera that is gone ends the stream; a refused control leaves
    // it running.
    if (error.failure == CaptureFailure::gone) drop_stream();
    std::string control(name);
    switch (error.failure) {
        case CaptureFailure::automatic:
            if (!error.ruled_by.empty()) {
                throw Fault{FaultKind::bad_argument, label() + " refuses " + control + " while " +
                                                         automatic_mode_words(error.ruled_by) + " is on; set " +
                                                         error.ruled_by + " 0 first"};
            }
            throw Fault{FaultKind::bad_argument, label() + " refuses " + control +
                                                     " while one of its automatic modes is on; switch that mode "
                                                     "off first (see vistrel controls)"};
        case CaptureFailure::bad_value:
            throw Fault{FaultKind::bad_argument, label() + " does not take " + control + " = " + std::to_string(value)};
        case CaptureFailure::busy:
            throw Fault{FaultKind::busy,
                        label() + " is busy: another program is using it; close that program and try again"};
        case CaptureFailure::gone:
            throw Fault{FaultKind::gone, label() + " is gone: it was unplugged"};
        case CaptureFailure::denied:
            throw Fault{FaultKind::denied, "cannot use " + label() + " at " + info_.link + ": permission denied (" +
                                               devices_->access_advice() + ")"};
        case CaptureFailure::timed_out:
        case CaptureFailure::unsupported:
        case CaptureFailure::no_bandwidth:
        case CaptureFailure::failed:
            break;
    }
    throw Fault{FaultKind::failed, label() + " failed: " + error.what()};
}

StreamingCameras::StreamingCameras(std::shared_ptr<CaptureDevices> devices, CameraTimings timings, FrameWork work)
    : devices_(std::move(devices)), timings_(timings), work_(std::move(work)) {}

std::vector<std::shared_ptr<Camera>> StreamingCameras::list() {
    auto stamp = devices_->changes();
    auto kept = [&]() -> std::optional<std::vector<std::shared_ptr<Camera>>> {
        std::lock_guard lock(mutex_);
        bool due = !listed_ || (stamp ? stamp != stamp_ : steady_clock::now() - listed_at_ >= std::chrono::seconds(1));
        if (due) return std::nullopt;
        return std::vector<std::shared_ptr<Camera>>(cameras_.begin(), cameras_.end());
    };
    if (auto cameras = kept()) return *cameras;
    std::unique_lock refreshing(refresh_mutex_, std::try_to_lock);
    if (!refreshing.owns_lock()) {
        // Another request is listing: the list as it stands, unless there is
        // none yet.
        {
            std::lock_guard lock(mutex_);
            if (listed_) return {cameras_.begin(), cameras_.end()};
        }
        refreshing.lock();
    }
    if (!kept()) refresh(stamp);
    std::lock_guard lock(mutex_);
    return {cameras_.begin(), cameras_.end()};
}

void StreamingCameras::refresh(std::optional<std::uint64_t> stamp) {
    CaptureDeviceList found = devices_->list();
    std::vector<std::shared_ptr<StreamingCamera>> known;
    {
        std::lock_guard lock(mutex_);
        known = cameras_;
    }
    std::vector<std::shared_ptr<StreamingCamera>> cameras;
    for (auto& info : found.devices) {
        // The same device at the same place keeps its object, and with it a
        // stream still running; anything else there is a new camera.
        auto same = std::find_if(known.begin(), known.end(),
                                 [&](const auto& camera) { return same_device(camera->info(), info); });
        cameras.push_back(same != known.end()
                              ? *same
                              : std::make_shared<StreamingCamera>(devices_, std::move(info), timings_, work_));
    }
    {
        std::lock_guard lock(mutex_);
        std::swap(cameras_, cameras);
        trouble_ = std::move(found.trouble);
        stamp_ = stamp;
        listed_ = true;
        listed_at_ = steady_clock::now();
    }
    // The cameras no longer listed go here, outside the lock: a camera's
    // end stops its stream.
    cameras.clear();
}

std::string StreamingCameras::trouble() {
    std::lock_guard lock(mutex_);
    std::string joined;
    for (const auto& line : trouble_) joined += (joined.empty() ? "" : "; ") + line;
    return joined;
}
