#include "fake_capture_devices.h"

#include <algorithm>
#include <chrono>
#include <deque>
#include <thread>

namespace {
using Clock = std::chrono::steady_clock;

// The buffers a stream fills; a frame exposed while all of them wait is
// dropped.
constexpr std::size_t buffer_count = 4;

// The app's control names over the camera's, and the automatic mode each
// manual control is freed from first.
struct AppControl {
    const char* name;
    const char* key;
    const char* automatic = nullptr;
};

const AppControl app_controls[] = {
    {"focus", "focus_absolute", "focus_auto"},
    {"autofocus", "focus_auto"},
    {"zoom", "zoom_absolute"},
    {"exposure", "exposure_absolute", "exposure_auto"},
    {"auto_exposure", "exposure_auto"},
    {"brightness", "brightness"},
    {"contrast", "contrast"},
    {"saturation", "saturation"},
    {"hue", "hue"},
    {"gain", "gain"},
    {"white_balance", "white_balance_temperature", "white_balance_temperature_auto"},
    {"auto_white_balance", "white_balance_temperature_auto"},
    {"power_line_frequency", "power_line_frequency"},
    {"pan", "pan_absolute"},
};

const char* app_name(const std::string& key) {
    for (const auto& control : app_controls) {
        if (key == control.key) return control.name;
    }
    return "";
}

std::string fourcc_of(PixelFormat format) {
    switch (format) {
        case PixelFormat::mjpeg:
            return "MJPG";
        case PixelFormat::yuyv:
            return "YUYV";
        case PixelFormat::nv12:
            return "NV12";
        case PixelFormat::grey:
            return "GREY";
    }
    return {};
}

std::optional<PixelFormat> format_of(const std::string& fourcc) {
    if (fourcc == "MJPG") return PixelFormat::mjpeg;
    if (fourcc == "YUYV") return PixelFormat::yuyv;
    if (fourcc == "NV12") return PixelFormat::nv12;
    if (fourcc == "GREY") return PixelFormat::grey;
    return std::nullopt;
}

int manual_value(const std::string& automatic_key) {
    return automatic_key == "exposure_auto" ? fake_exposure_manual : 0;
}
}  // namespace

struct FakeCaptureDevices::Shared {
    struct Slot {
        std::unique_ptr<FakeWebcam> camera;
        int generation = 0;
        const void* streamer = nullptr;  // the device streaming it
    };

    std::mutex mutex;
    std::map<int, Slot> slots;
    int generations = 0;
    std::uint64_t changes = 0;
    int listings = 0;
    std::vector<std::string> events;

    void log(int number, const std::string& event) { events.push_back(std::to_string(number) + " " + event); }

    // The camera a device opened, while it is there.
    Slot* slot(int number, int generation) {
        auto found = slots.find(number);
        if (found == slots.end() || found->second.generation != generation) return nullptr;
        if (found->second.camera->unplugged()) return nullptr;
        return &found->second;
    }

    void plug(const std::string& set) {
        std::map<int, Slot> plugged;
        for (const auto& settings : parse_fake_nodes(set)) {
            auto known = slots.find(settings.number);
            if (known != slots.end() && known->second.camera->settings() == settings &&
                !known->second.camera->unplugged()) {
                plugged.emplace(settings.number, std::move(known->second));
                continue;
            }
            Slot fresh;
            fresh.camera = std::make_unique<FakeWebcam>(settings);
            fresh.generation = ++generations;
            plugged.emplace(settings.number, std::move(fresh));
        }
        slots = std::move(plugged);
        ++changes;
    }

    std::vector<CameraControl> controls_of(const FakeWebcam& camera, Clock::time_point now) const {
        std::vector<CameraControl> shown;
        for (const auto& app : app_controls) {
            const FakeControl* control = camera.control(app.key);
            if (!control || control->disabled || control->read_only) continue;
            // Inactive under an automatic mode the app does not manage: not offered.
            if (camera.inactive(*control) && !app.automatic) continue;
            int value = camera.value_of(*control, now);
            if (std::string(app.name) == "auto_exposure") {
                shown.push_back({app.name, 0, 1, value == fake_exposure_manual ? 0 : 1, 1});
            } else {
                shown.push_back({app.name, control->min, control->max, value, std::max(1, control->step)});
            }
        }
        return shown;
    }
};

namespace {
class FakeCaptureDevice final : public CaptureDevice {
public:
    using Shared = FakeCaptureDevices::Shared;

    FakeCaptureDevice(std::shared_ptr<Shared> shared, int number, int generation)
        : shared_(std::move(shared)), number_(number), generation_(generation) {}

    ~FakeCaptureDevice() override {
        stop();
        std::lock_guard lock(shared_->mutex);
        shared_->log(number_, "close");
    }

    CaptureMode start(const CaptureMode& mode) override {
        std::lock_guard lock(shared_->mutex);
        Shared::Slot& slot = present();
        const FakeNodeSettings& settings = slot.camera->settings();
        if (settings.busy || (slot.streamer && slot.streamer != this)) {
            throw CaptureError(CaptureFailure::busy, "another program streams from the camera");
        }
        FrameSize chosen;
        auto modes = fake_modes(settings);
        const FakeMode* offered = fake_mode_for(modes, fourcc_of(mode.format), mode.size, chosen);
        if (!offered) throw CaptureError(CaptureFailure::unsupported, "no such format: " + fourcc_of(mode.format));
        int rate = offered->rates.front();
        if (!fake_bandwidth_suffices(settings, offered->fourcc, chosen, rate)) {
            shared_->log(number_, "no bandwidth for " + offered->fourcc + " " + std::to_string(chosen.width) + "x" +
                                      std::to_string(chosen.height));
            throw CaptureError(CaptureFailure::no_bandwidth, "the bus cannot carry " + offered->fourcc);
        }
        slot.camera->start(offered->fourcc, chosen, rate, Clock::now());
        slot.streamer = this;
        streaming_ = true;
        waiting_.clear();
        shared_->log(number_, "start " + offered->fourcc + " " + std::to_string(chosen.width) + "x" +
                                  std::to_string(chosen.height) + " " + std::to_string(rate));
        return {mode.format, chosen, static_cast<double>(rate)};
    }

    CapturedFrame next_frame(SteadyTime deadline) override {
        for (;;) {
            FakeExposure frame;
            Clock::time_point wake;
            {
                std::lock_guard lock(shared_->mutex);
                Shared::Slot& slot = present();
                if (!streaming_) throw CaptureError(CaptureFailure::failed, "not streaming");
                auto now = Clock::now();
                slot.camera->expose_until(now, [&](const FakeExposure& exposed) {
                    if (waiting_.size() >= buffer_count) return false;
                    waiting_.push_back(exposed);
                    return true;
                });
                if (slot.camera->unplugged()) {
                    ++shared_->changes;
                    throw CaptureError(CaptureFailure::gone, "the camera was unplugged");
                }
                if (waiting_.empty()) {
                    if (now >= deadline) throw CaptureError(CaptureFailure::timed_out, "no frame came");
                    wake = std::min(slot.camera->next_exposure(), deadline);
                } else {
                    frame = waiting_.front();
                    waiting_.pop_front();
                    shared_->log(number_, "frame " + std::to_string(frame.sequence));
                }
            }
            if (frame.look.fourcc.empty()) {
                std::this_thread::sleep_until(wake);
                continue;
            }
            return captured(frame);
        }
    }

    void stop() override {
        std::lock_guard lock(shared_->mutex);
        if (!streaming_) return;
        streaming_ = false;
        waiting_.clear();
        if (Shared::Slot* slot = shared_->slot(number_, generation_)) {
            slot->camera->stop(Clock::now());
            slot->streamer = nullptr;
        }
        shared_->log(number_, "stop");
    }

    std::vector<CameraControl> controls() override {
        std::lock_guard lock(shared_->mutex);
        return shared_->controls_of(*present().camera, Clock::now());
    }

    ControlChange set_control(std::string_view name, std::int64_t value) override {
        std::lock_guard lock(shared_->mutex);
        FakeWebcam& camera = *present().camera;
        auto now = Clock::now();
        auto shown = shared_->controls_of(camera, now);
        auto offered = std::find_if(shown.begin(), shown.end(), [&](const CameraControl& c) { return c.name == name; });
        if (offered == shown.end()) throw unknown_control(name, shown);
        if (value < offered->min || value > offered->max) throw out_of_range(*offered, value);
        const AppControl& app = *std::find_if(std::begin(app_controls), std::end(app_controls),
                                              [&](const AppControl& c) { return name == c.name; });
        if (app.automatic) {
            const FakeControl* automatic = camera.control(app.automatic);
            int manual = manual_value(app.automatic);
            if (automatic && camera.value_of(*automatic, now) != manual) {
                camera.set_control(app.automatic, manual, now);
                shared_->log(number_, std::string("set ") + app_name(app.automatic) + "=0");
            }
        }
        int device_value = static_cast<int>(value);
        if (name == "auto_exposure") device_value = value == 0 ? fake_exposure_manual : fake_exposure_aperture_priority;
        switch (camera.set_control(app.key, device_value, now)) {
            case FakeRefusal::none:
                break;
            case FakeRefusal::automatic: {
                const FakeControl* control = camera.control(app.key);
                std::string ruler = control->ruled_by.empty() ? control->refused_while : control->ruled_by;
                throw CaptureError(CaptureFailure::automatic, "refused under an automatic mode", app_name(ruler));
            }
            default:
                throw CaptureError(CaptureFailure::bad_value, "the camera refuses the value");
        }
        shared_->log(number_, "set " + std::string(name) + "=" + std::to_string(value));
        auto after = shared_->controls_of(camera, now);
        auto now_holds =
            std::find_if(after.begin(), after.end(), [&](const CameraControl& c) { return c.name == name; });
        return {offered->value, now_holds->value};
    }

    std::optional<bool> focus_settled() override {
        std::lock_guard lock(shared_->mutex);
        FakeWebcam& camera = *present().camera;
        const FakeControl* status = camera.control("auto_focus_status");
        if (!status) return std::nullopt;
        return camera.value_of(*status, Clock::now()) != fake_focus_busy;
    }

private:
    // Caller holds the mutex.
    Shared::Slot& present() {
        Shared::Slot* slot = shared_->slot(number_, generation_);
        if (!slot) throw CaptureError(CaptureFailure::gone, "the camera was unplugged");
        return *slot;
    }

    CapturedFrame captured(const FakeExposure& exposure) {
        CapturedFrame taken;
        const FakeLook& look = exposure.look;
        taken.exposed = exposure.exposed;
        taken.frame.format = format_of(look.fourcc).value_or(PixelFormat::mjpeg);
        taken.frame.width = look.size.width;
        taken.frame.height = look.size.height;
        taken.frame.bytes_per_line = look.fourcc == "YUYV"   ? look.size.width * 2
                                     : look.fourcc == "MJPG" ? 0
                                                             : look.size.width;
        taken.frame.full_range = look.fourcc == "GREY";
        bool jpeg = look.fourcc == "MJPG";
        switch (exposure.damage) {
            case FakeDamage::empty:
                taken.damaged = true;  // no bytes in it
                return taken;
            case FakeDamage::damaged:
                taken.damaged = !jpeg;  // a YUV frame is flagged; a JPEG arrives cut short
                break;
            case FakeDamage::none:
            case FakeDamage::warning:
                break;
        }
        taken.frame.bytes = render_fake_frame(look, exposure.sequence);
        if (jpeg) taken.frame.bytes = spoil_fake_jpeg(taken.frame.bytes, exposure.damage);
        return taken;
    }

    std::shared_ptr<Shared> shared_;
    int number_;
    int generation_;
    bool streaming_ = false;
    std::deque<FakeExposure> waiting_;
};

// Sizes worth trying within a range of sizes, as the Video4Linux2 devices
// list them.
const FrameSize common_sizes[] = {{320, 240},  {640, 360},   {640, 480},   {800, 600},  {1280, 720},
                                  {1280, 960}, {1920, 1080}, {2560, 1440}, {3840, 2160}};
}  // namespace

FakeCaptureDevices::FakeCaptureDevices(const std::string& set) : shared_(std::make_shared<Shared>()) {
    shared_->plug(set);
}

void FakeCaptureDevices::plug(const std::string& set) {
    std::lock_guard lock(shared_->mutex);
    shared_->plug(set);
}

std::vector<std::string> FakeCaptureDevices::events() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->events;
}

int FakeCaptureDevices::listings() const {
    std::lock_guard lock(shared_->mutex);
    return shared_->listings;
}

std::optional<std::uint64_t> FakeCaptureDevices::changes() {
    std::lock_guard lock(shared_->mutex);
    return shared_->changes;
}

CaptureDeviceList FakeCaptureDevices::list() {
    std::lock_guard lock(shared_->mutex);
    ++shared_->listings;
    CaptureDeviceList found;
    for (const auto& [number, slot] : shared_->slots) {
        const FakeWebcam& camera = *slot.camera;
        const FakeNodeSettings& settings = camera.settings();
        if (camera.unplugged() || !fake_captures_video(settings)) continue;
        std::string id = std::to_string(number);
        if (settings.denied) {
            found.trouble.push_back("cannot open fake:" + id + ": permission denied (" + access_advice() + ")");
            continue;
        }
        CaptureDeviceInfo info;
        info.id = id;
        info.name = fake_card(settings);
        info.link = "fake:" + id;
        info.identity = settings.bus + "/" + std::to_string(slot.generation);
        const FakeControl* focus = camera.control("focus_absolute");
        info.focusable = focus && !focus->disabled;
        info.colour = settings.model != "ir";
        for (const auto& mode : fake_modes(settings)) {
            auto format = format_of(mode.fourcc);
            if (!format) {
                if (std::find(info.other_formats.begin(), info.other_formats.end(), mode.fourcc) ==
                    info.other_formats.end()) {
                    info.other_formats.push_back(mode.fourcc);
                }
                continue;
            }
            std::vector<FrameSize> sizes = {mode.size};
            if (mode.step > 0) {
                sizes.clear();
                for (FrameSize common : common_sizes) {
                    if (common.width >= mode.smallest.width && common.width <= mode.size.width &&
                        common.height >= mode.smallest.height && common.height <= mode.size.height) {
                        sizes.push_back(common);
                    }
                }
                sizes.push_back(mode.size);
            }
            for (FrameSize size : sizes) info.modes.push_back({*format, size, static_cast<double>(mode.rates.front())});
        }
        found.devices.push_back(std::move(info));
    }
    return found;
}

std::unique_ptr<CaptureDevice> FakeCaptureDevices::open(const CaptureDeviceInfo& device) {
    std::lock_guard lock(shared_->mutex);
    int number = std::stoi(device.id);
    auto found = shared_->slots.find(number);
    if (found == shared_->slots.end() || found->second.camera->unplugged()) {
        throw CaptureError(CaptureFailure::gone, "no camera " + device.id);
    }
    if (found->second.camera->settings().denied) throw CaptureError(CaptureFailure::denied, "access denied");
    shared_->log(number, "open");
    return std::make_unique<FakeCaptureDevice>(shared_, number, found->second.generation);
}
