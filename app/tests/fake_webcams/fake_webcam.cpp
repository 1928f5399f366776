#include "fake_webcam.h"

#include "imaging/test_scene.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <map>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <tuple>

std::vector<FakeNodeSettings> parse_fake_nodes(const std::string& text) {
    std::vector<FakeNodeSettings> nodes;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string node;
        if (!(words >> node) || node[0] == '#') continue;
        if (node.rfind("video", 0) != 0) throw std::invalid_argument("not a video node: " + line);
        FakeNodeSettings settings;
        settings.number = std::stoi(node.substr(5));
        if (!(words >> settings.model)) throw std::invalid_argument("no model: " + line);
        for (std::string word; words >> word;) {
            auto eq = word.find('=');
            std::string key = word.substr(0, eq), value = eq == std::string::npos ? "" : word.substr(eq + 1);
            auto number = [&] { return std::stoi(value); };
            if (key == "busy") {
                settings.busy = true;
            } else if (key == "denied") {
                settings.denied = true;
            } else if (key == "no-timestamps") {
                settings.no_timestamps = true;
            } else if (key == "focus-status") {
                settings.focus_status = true;
            } else if (key == "bus") {
                settings.bus = value;
            } else if (key == "card") {
                std::replace(value.begin(), value.end(), '_', ' ');
                settings.card = value;
            } else if (key == "formats") {
                settings.formats = value;
            } else if (key == "fps") {
                settings.fps = number();
            } else if (key == "focus-at") {
                settings.focus_at = number();
            } else if (key == "lens-rest") {
                settings.lens_rest = number();
            } else if (key == "af-step") {
                settings.af_step = number();
            } else if (key == "dark-frames") {
                settings.dark_frames = number();
            } else if (key == "unplug-after") {
                settings.unplug_after = number();
            } else if (key == "unplug-after-moves") {
                settings.unplug_after_moves = number();
            } else if (key == "stall-after") {
                settings.stall_after = number();
            } else if (key == "damaged-every") {
                settings.damaged_every = number();
            } else if (key == "empty-every") {
                settings.empty_every = number();
            } else if (key == "warning-every") {
                settings.warning_every = number();
            } else if (key == "bandwidth") {
                settings.bandwidth = number();
            } else if (key == "plugged") {
                settings.plugged = number();
            } else {
                throw std::invalid_argument("unknown setting " + word + ": " + line);
            }
        }
        if (settings.bus.empty()) settings.bus = "usb-fake-" + std::to_string(settings.number);
        nodes.push_back(settings);
    }
    return nodes;
}

bool fake_captures_video(const FakeNodeSettings& settings) {
    return settings.model != "metadata" && settings.model != "output";
}

bool fake_is_metadata(const FakeNodeSettings& settings) {
    return settings.model == "metadata";
}

std::string fake_card(const FakeNodeSettings& settings) {
    if (!settings.card.empty()) return settings.card;
    if (settings.model == "fixed") return "Fake Fixed-Focus Camera";
    if (settings.model == "h264") return "Fake H.264 Camera";
    if (settings.model == "ir") return "Fake IR Camera";
    if (settings.model == "output") return "Fake Video Output";
    return "Fake HD Webcam";  // the webcam and its metadata node
}

std::vector<FakeMode> fake_modes(const FakeNodeSettings& settings) {
    // As typical USB 2 webcams: Motion-JPEG at full rate in every size,
    // uncompressed YUYV slower the larger it gets (the bus carries about
    // 20 MB/s of it).
    std::vector<FakeMode> modes;
    if (settings.model == "webcam") {
        modes = {
            {"MJPG", {640, 480}, {}, 0, {30, 15}, 30},   {"MJPG", {1280, 720}, {}, 0, {30, 15}, 30},
            {"MJPG", {1920, 1080}, {}, 0, {30, 15}, 15}, {"YUYV", {640, 480}, {}, 0, {30, 15}, 30},
            {"YUYV", {1280, 720}, {}, 0, {15, 10}, 15},  {"YUYV", {1920, 1080}, {}, 0, {5}, 5},
        };
    } else if (settings.model == "fixed") {
        modes = {{"YUYV", {640, 480}, {160, 120}, 16, {30}, 30}, {"NV12", {1280, 720}, {}, 0, {30}, 30}};
    } else if (settings.model == "ir") {
        modes = {{"GREY", {640, 360}, {}, 0, {30}, 30}};
    } else if (settings.model == "h264") {
        modes = {{"H264", {1920, 1080}, {}, 0, {30}, 30}};
    }
    auto wanted = [&](const std::string& fourcc) {
        if (fourcc == "MJPG" && !fake_mjpeg_available()) return false;
        if (settings.formats.empty()) return true;
        std::string lower = fourcc;
        std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
        return ("," + settings.formats + ",").find("," + lower + ",") != std::string::npos;
    };
    std::vector<FakeMode> kept;
    for (auto& mode : modes) {
        if (!wanted(mode.fourcc)) continue;
        if (settings.fps > 0) {
            std::vector<int> rates;
            for (int rate : mode.rates) {
                if (rate <= settings.fps) rates.push_back(rate);
            }
            if (rates.empty()) rates = {settings.fps};
            mode.rates = rates;
            mode.default_rate = std::min(mode.default_rate, rates.front());
        }
        kept.push_back(mode);
    }
    return kept;
}

std::vector<std::string> fake_formats(const FakeNodeSettings& settings) {
    std::vector<std::string> formats;
    for (const auto& mode : fake_modes(settings)) {
        if (std::find(formats.begin(), formats.end(), mode.fourcc) == formats.end()) formats.push_back(mode.fourcc);
    }
    return formats;
}

const FakeMode* fake_mode_for(const std::vector<FakeMode>& modes, const std::string& fourcc, FrameSize asked,
                              FrameSize& chosen) {
    const FakeMode* best = nullptr;
    long long best_distance = 0;
    for (const auto& mode : modes) {
        if (mode.fourcc != fourcc) continue;
        FrameSize size = mode.size;
        if (mode.step > 0) {
            // Any size in the range, rounded to the step.
            auto fit = [&](int value, int low, int high) {
                int rounded = (value + mode.step / 2) / mode.step * mode.step;
                return std::clamp(rounded, low, high);
            };
            size = {fit(asked.width, mode.smallest.width, mode.size.width),
                    fit(asked.height, mode.smallest.height, mode.size.height)};
        }
        // As uvcvideo measures it: the area the two sizes do not share.
        long long overlap =
            static_cast<long long>(std::min(size.width, asked.width)) * std::min(size.height, asked.height);
        long long distance = static_cast<long long>(size.width) * size.height +
                             static_cast<long long>(asked.width) * asked.height - 2 * overlap;
        if (!best || distance < best_distance) {
            best = &mode;
            best_distance = distance;
            chosen = size;
        }
    }
    return best;
}

bool fake_bandwidth_suffices(const FakeNodeSettings& settings, const std::string& fourcc, FrameSize size, int rate) {
    if (settings.bandwidth <= 0) return true;
    double bytes_per_pixel = fourcc == "YUYV" ? 2.0 : fourcc == "NV12" ? 1.5 : fourcc == "GREY" ? 1.0 : 0.2;
    double needed = static_cast<double>(size.width) * size.height * bytes_per_pixel * rate / 1e6;
    return needed <= settings.bandwidth;
}

std::vector<FakeControl> fake_controls(const FakeNodeSettings& settings) {
    if (settings.model != "webcam" && settings.model != "fixed" && settings.model != "ir") return {};
    using T = FakeControlType;
    auto control = [](const char* key, T type, const char* name, int min, int max, int step, int value) {
        FakeControl c;
        c.key = key;
        c.type = type;
        c.name = name;
        c.min = min;
        c.max = max;
        c.step = step;
        c.value = value;
        return c;
    };
    std::vector<FakeControl> controls = {
        control("brightness", T::integer, "Brightness", 0, 255, 1, 128),
        control("contrast", T::integer, "Contrast", 0, 255, 1, 128),
    };
    if (settings.model == "ir") return controls;
    FakeControl exposure_auto =
        control("exposure_auto", T::menu, "Auto Exposure", 0, 3, 1, fake_exposure_aperture_priority);
    exposure_auto.menu = {fake_exposure_manual, fake_exposure_aperture_priority};
    FakeControl exposure = control("exposure_absolute", T::integer, "Exposure (Absolute)", 3, 2047, 1, 250);
    exposure.ruled_by = "exposure_auto";
    controls.push_back(exposure_auto);
    controls.push_back(exposure);
    if (settings.model == "fixed") return controls;

    FakeControl gain = control("gain", T::integer, "Gain", 0, 255, 1, 0);
    // Many webcams' firmware answers "wrong state" to gain while their
    // automatic exposure runs, which the driver does not know beforehand.
    gain.refused_while = "exposure_auto";
    FakeControl temperature =
        control("white_balance_temperature", T::integer, "White Balance Temperature", 2000, 6500, 1, 4000);
    temperature.ruled_by = "white_balance_temperature_auto";
    // Inactive under an automatic mode the app does not manage: not offered.
    FakeControl hue = control("hue", T::integer, "Hue", -180, 180, 1, 0);
    hue.ruled_by = "hue_auto";
    // Disabled by the driver: not offered.
    FakeControl pan = control("pan_absolute", T::integer, "Pan (Absolute)", -36000, 36000, 3600, 0);
    pan.disabled = true;
    FakeControl focus = control("focus_absolute", T::integer, "Focus (absolute)", 0, 250, 5, settings.lens_rest);
    focus.ruled_by = "focus_auto";
    FakeControl power = control("power_line_frequency", T::menu, "Power Line Frequency", 0, 2, 1, 1);
    power.menu = {0, 1, 2};
    std::vector<FakeControl> more = {
        control("saturation", T::integer, "Saturation", 0, 255, 1, 128),
        gain,
        control("white_balance_temperature_auto", T::boolean, "White Balance, Auto", 0, 1, 1, 1),
        temperature,
        control("hue_auto", T::boolean, "Hue, Auto", 0, 1, 1, 1),
        hue,
        pan,
        control("focus_auto", T::boolean, "Focus, Automatic Continuous", 0, 1, 1, 1),
        focus,
        control("zoom_absolute", T::integer, "Zoom, Absolute", 100, 500, 1, 100),
        power,
    };
    controls.insert(controls.end(), more.begin(), more.end());
    if (settings.focus_status) {
        FakeControl status = control("auto_focus_status", T::integer, "Auto Focus, Status", 0, 7, 1, fake_focus_idle);
        status.read_only = true;
        controls.push_back(status);
    }
    return controls;
}

FakeWebcam::FakeWebcam(FakeNodeSettings settings)
    : settings_(std::move(settings)), controls_(fake_controls(settings_)) {
    lens_from_ = lens_to_ = settings_.lens_rest;
}

const FakeControl* FakeWebcam::control(const std::string& key) const {
    for (const auto& control : controls_) {
        if (control.key == key) return &control;
    }
    return nullptr;
}

FakeControl* FakeWebcam::find(const std::string& key) {
    return const_cast<FakeControl*>(static_cast<const FakeWebcam*>(this)->control(key));
}

bool FakeWebcam::automatic_on(const std::string& key) const {
    const FakeControl* automatic = control(key);
    if (!automatic) return false;
    if (key == "exposure_auto") return automatic->value != fake_exposure_manual;
    return automatic->value != 0;
}

bool FakeWebcam::inactive(const FakeControl& control) const {
    return !control.ruled_by.empty() && automatic_on(control.ruled_by);
}

std::chrono::nanoseconds FakeWebcam::period() const {
    return std::chrono::nanoseconds(1'000'000'000LL / std::max(1, rate_));
}

int FakeWebcam::lens(Time now) const {
    return now < lens_arrives_ ? lens_from_ : lens_to_;
}

int FakeWebcam::value_of(const FakeControl& control, Time now) const {
    // While autofocus runs, the focus control follows the lens.
    if (control.key == "focus_absolute" && automatic_on("focus_auto")) return lens(now);
    if (control.key == "auto_focus_status") {
        if (!automatic_on("focus_auto")) return fake_focus_idle;
        return streaming_ && af_phase_ < 3 ? fake_focus_busy : fake_focus_reached;
    }
    return control.value;
}

FakeRefusal FakeWebcam::set_control(const std::string& key, int& value, Time now) {
    FakeControl* control = find(key);
    if (!control) return FakeRefusal::unknown;
    if (control->disabled) return FakeRefusal::disabled;
    if (control->read_only) return FakeRefusal::read_only;
    if (!control->ruled_by.empty() && automatic_on(control->ruled_by)) return FakeRefusal::automatic;
    if (!control->refused_while.empty() && automatic_on(control->refused_while)) return FakeRefusal::automatic;
    switch (control->type) {
        case FakeControlType::integer: {
            // uvcvideo rounds to the nearest step and clamps to the range.
            int step = std::max(1, control->step);
            long long offset = static_cast<long long>(value) - control->min;
            long long steps = offset >= 0 ? (offset + step / 2) / step : -((-offset + step / 2) / step);
            value = static_cast<int>(std::clamp<long long>(control->min + steps * step, control->min, control->max));
            break;
        }
        case FakeControlType::boolean:
            value = std::clamp(value, 0, 1);
            break;
        case FakeControlType::menu:
            if (value < control->min || value > control->max) return FakeRefusal::out_of_range;
            if (std::find(control->menu.begin(), control->menu.end(), value) == control->menu.end()) {
                return FakeRefusal::not_offered;
            }
            break;
    }
    if (key == "focus_absolute") {
        // The motor takes a frame period to get there.
        ++lens_moves_;
        lens_from_ = lens(now);
        lens_to_ = value;
        lens_arrives_ = now + period();
    }
    if (key == "focus_auto" && value == 0 && control->value != 0) {
        // The lens stays where autofocus left it.
        lens_from_ = lens_to_ = lens(now);
        lens_arrives_ = now;
        if (FakeControl* focus = find("focus_absolute")) focus->value = lens_to_;
    }
    bool autofocus_starts = key == "focus_auto" && value != 0 && control->value == 0;
    if (key == "exposure_auto" && value != fake_exposure_manual && control->value == fake_exposure_manual) {
        // Automatic exposure starts again from the manual exposure.
        ae_from_ = exposure_gain();
        ae_since_ = stream_frames_;
    }
    control->value = value;
    if (autofocus_starts) restart_autofocus();
    return FakeRefusal::none;
}

double FakeWebcam::exposure_gain() const {
    const FakeControl* mode = control("exposure_auto");
    const FakeControl* exposure = control("exposure_absolute");
    if (mode && exposure && mode->value == fake_exposure_manual) return exposure->value / 250.0;
    int dark = settings_.dark_frames;
    double done = dark <= 0 ? 1.0 : std::min(1.0, static_cast<double>(stream_frames_ - ae_since_) / dark);
    return ae_from_ + (1.0 - ae_from_) * done;
}

void FakeWebcam::restart_autofocus() {
    af_phase_ = 0;
}

void FakeWebcam::step_autofocus(Time when) {
    int position = lens(when);
    if (af_phase_ >= 3) return;
    const int focus = settings_.focus_at, step = settings_.af_step;
    const FakeControl* motor = control("focus_absolute");
    int low = motor ? motor->min : 0, high = motor ? motor->max : 255;
    if (af_phase_ == 0) {
        if (step <= 0 || std::abs(position - focus) <= step) {
            af_phase_ = 3;
            position = focus;
        } else {
            // Contrast autofocus only knows it passed the sharpest position
            // once the picture gets worse again.
            int past = 2 * step;
            af_target_ = std::clamp(focus + (focus > position ? past : -past), low, high);
            af_phase_ = 1;
        }
    }
    if (af_phase_ == 1 || af_phase_ == 2) {
        int distance = af_target_ - position;
        position += std::clamp(distance, -step, step);
        if (position == af_target_) {
            if (af_phase_ == 1) {
                af_phase_ = 2;
                af_target_ = focus;
            } else {
                af_phase_ = 3;
            }
        }
    }
    lens_from_ = lens_to_ = position;
    lens_arrives_ = when;
}

void FakeWebcam::start(const std::string& fourcc, FrameSize size, int rate, Time now) {
    fourcc_ = fourcc;
    size_ = size;
    rate_ = std::max(1, rate);
    streaming_ = true;
    stream_frames_ = 0;
    next_frame_ = now + period();
    ae_from_ = 1.0;
    ae_since_ = 0;
    if (automatic_on("focus_auto")) restart_autofocus();
}

void FakeWebcam::stop(Time now) {
    if (!streaming_) return;
    streaming_ = false;
    // With the stream the camera powers down, and its autofocus parks the lens.
    if (automatic_on("focus_auto")) {
        lens_from_ = lens_to_ = settings_.lens_rest;
        lens_arrives_ = now;
    }
}

bool FakeWebcam::stalled() const {
    return settings_.stall_after >= 0 && stream_frames_ >= settings_.stall_after;
}

FakeWebcam::Time FakeWebcam::next_exposure() const {
    if (!streaming_ || unplugged_ || stalled()) return Time::max();
    return next_frame_;
}

FakeLook FakeWebcam::look_now(Time when) {
    FakeLook look;
    look.fourcc = fourcc_;
    look.size = size_;
    if (automatic_on("focus_auto")) step_autofocus(when);
    auto value = [&](const char* key, int otherwise) {
        const FakeControl* c = control(key);
        return c ? c->value : otherwise;
    };
    if (control("focus_absolute")) {
        // One pixel of blur per focus step (5) away, at 1280 pixels across.
        double steps = std::abs(lens(when) - settings_.focus_at) / 5.0;
        look.blur = static_cast<int>(std::lround(steps * size_.width / 1280.0));
    }
    look.gain = exposure_gain();
    const int k = stream_frames_, dark = settings_.dark_frames;
    if (k < dark) look.gain *= 0.1 + 0.9 * k / dark;
    look.green = k == 0 && dark > 0 && fourcc_ != "MJPG";
    look.offset = (value("brightness", 128) - 128) / 2;
    look.zoom = value("zoom_absolute", 100) / 100.0;
    return look;
}

void FakeWebcam::expose_until(Time now, const std::function<bool(const FakeExposure&)>& deliver) {
    if (!streaming_) return;
    while (!unplugged_ && next_frame_ <= now && !stalled()) {
        FakeExposure frame;
        frame.sequence = sequence_;
        frame.exposed = next_frame_;
        frame.look = look_now(next_frame_);
        auto every = [&](int n) { return n > 0 && sequence_ % static_cast<std::uint32_t>(n) == 0; };
        if (every(settings_.damaged_every)) {
            frame.damage = FakeDamage::damaged;
        } else if (every(settings_.empty_every)) {
            frame.damage = FakeDamage::empty;
        } else if (every(settings_.warning_every) && fourcc_ == "MJPG") {
            frame.damage = FakeDamage::warning;
        }
        // A frame is exposed whether or not a buffer waits for it.
        bool delivered = deliver(frame);
        if (delivered) ++delivered_;
        bool moved_enough = settings_.unplug_after_moves >= 0 && lens_moves_ >= settings_.unplug_after_moves;
        if ((delivered && delivered_ == settings_.unplug_after) || moved_enough) {
            unplugged_ = true;
            unplugged_at_ = next_frame_;
        }
        ++sequence_;
        ++stream_frames_;
        next_frame_ += period();
    }
}

namespace {
// The sharp scene at one size and zoom, drawn once: drawing it costs more
// than a frame period.
const Image& scene(FrameSize size, double zoom) {
    static std::mutex mutex;
    static std::map<std::tuple<int, int, int>, Image> drawn;
    std::lock_guard lock(mutex);
    auto key = std::make_tuple(size.width, size.height, static_cast<int>(zoom * 100));
    auto it = drawn.find(key);
    if (it == drawn.end()) it = drawn.emplace(key, render_test_scene(size.width, size.height, zoom, {"", ""})).first;
    return it->second;
}

// Box blurs of `radius`, the edges repeating the nearest pixel: along each
// row, then down the columns with one running sum per column, both in the
// order the bytes lie in memory (a frame must cost less than its period).
void blur_rows(Image& image, int radius) {
    const int w = image.width, window = 2 * radius + 1;
    std::vector<std::uint8_t> line(static_cast<std::size_t>(w) * 3);
    for (int y = 0; y < image.height; ++y) {
        std::uint8_t* row = &image.rgb[static_cast<std::size_t>(y) * w * 3];
        std::copy(row, row + line.size(), line.begin());
        for (int c = 0; c < 3; ++c) {
            auto at = [&](int x) { return static_cast<int>(line[std::clamp(x, 0, w - 1) * 3 + c]); };
            int sum = 0;
            for (int x = -radius; x <= radius; ++x) sum += at(x);
            for (int x = 0; x < w; ++x) {
                row[x * 3 + c] = static_cast<std::uint8_t>(sum / window);
                sum += at(x + radius + 1) - at(x - radius);
            }
        }
    }
}

void blur_columns(Image& image, int radius) {
    const int h = image.height, window = 2 * radius + 1;
    const std::size_t stride = static_cast<std::size_t>(image.width) * 3;
    thread_local std::vector<std::uint8_t> source;
    source.assign(image.rgb.begin(), image.rgb.end());
    auto row = [&](int y) { return &source[static_cast<std::size_t>(std::clamp(y, 0, h - 1)) * stride]; };
    std::vector<int> sums(stride, 0);
    for (int y = -radius; y <= radius; ++y) {
        const std::uint8_t* r = row(y);
        for (std::size_t i = 0; i < stride; ++i) sums[i] += r[i];
    }
    for (int y = 0; y < h; ++y) {
        std::uint8_t* out = &image.rgb[static_cast<std::size_t>(y) * stride];
        const std::uint8_t* enter = row(y + radius + 1);
        const std::uint8_t* leave = row(y - radius);
        for (std::size_t i = 0; i < stride; ++i) {
            out[i] = static_cast<std::uint8_t>(sums[i] / window);
            sums[i] += enter[i] - leave[i];
        }
    }
}

// Into the same memory every time: fresh pages for each frame cost as much
// as the drawing.
const Image& picture(const FakeLook& look) {
    thread_local Image image;
    const Image& sharp = scene(look.size, look.zoom);
    image.width = sharp.width;
    image.height = sharp.height;
    image.rgb.assign(sharp.rgb.begin(), sharp.rgb.end());
    // Two box passes each way: close enough to a lens's blur.
    for (int pass = 0; pass < 2 && look.blur > 0; ++pass) {
        blur_rows(image, look.blur);
        blur_columns(image, look.blur);
    }
    std::uint8_t levels[256];
    for (int v = 0; v < 256; ++v) {
        levels[v] =
            static_cast<std::uint8_t>(std::clamp(static_cast<int>(std::lround(v * look.gain)) + look.offset, 0, 255));
    }
    for (auto& v : image.rgb) v = levels[v];
    return image;
}

// BT.601 in studio range, as webcams send it.
void to_yuv(std::uint8_t r, std::uint8_t g, std::uint8_t b, int& y, int& u, int& v) {
    y = 16 + (66 * r + 129 * g + 25 * b + 128) / 256;
    u = 128 + (-38 * r - 74 * g + 112 * b + 128) / 256;
    v = 128 + (112 * r - 94 * g - 18 * b + 128) / 256;
}

std::string yuyv(const Image& image) {
    std::string out(static_cast<std::size_t>(image.width) * image.height * 2, '\0');
    for (std::size_t i = 0, o = 0; i < image.rgb.size(); i += 6, o += 4) {
        int y0, u0, v0, y1, u1, v1;
        to_yuv(image.rgb[i], image.rgb[i + 1], image.rgb[i + 2], y0, u0, v0);
        to_yuv(image.rgb[i + 3], image.rgb[i + 4], image.rgb[i + 5], y1, u1, v1);
        out[o] = static_cast<char>(y0);
        out[o + 1] = static_cast<char>((u0 + u1) / 2);
        out[o + 2] = static_cast<char>(y1);
        out[o + 3] = static_cast<char>((v0 + v1) / 2);
    }
    return out;
}

std::string nv12(const Image& image) {
    const std::size_t w = static_cast<std::size_t>(image.width), h = static_cast<std::size_t>(image.height);
    std::string out(w * h * 3 / 2, '\0');
    for (std::size_t row = 0; row < h; ++row) {
        for (std::size_t x = 0; x < w; ++x) {
            const std::uint8_t* p = &image.rgb[(row * w + x) * 3];
            int y, u, v;
            to_yuv(p[0], p[1], p[2], y, u, v);
            out[row * w + x] = static_cast<char>(y);
            if (row % 2 == 0 && x % 2 == 0) {
                out[w * h + (row / 2) * w + x] = static_cast<char>(u);
                out[w * h + (row / 2) * w + x + 1] = static_cast<char>(v);
            }
        }
    }
    return out;
}

// Infrared cameras send full-range grey levels.
std::string grey(const Image& image) {
    std::string out(static_cast<std::size_t>(image.width) * image.height, '\0');
    for (std::size_t i = 0, o = 0; i < image.rgb.size(); i += 3, ++o) {
        out[o] = static_cast<char>((77 * image.rgb[i] + 150 * image.rgb[i + 1] + 29 * image.rgb[i + 2]) >> 8);
    }
    return out;
}

// A comment segment naming the frame, right after the start of image.
std::string with_comment(const std::string& jpeg, std::uint32_t sequence) {
    std::string comment = "fake frame " + std::to_string(sequence);
    std::string segment = "\xFF\xFE";
    segment += static_cast<char>((comment.size() + 2) >> 8);
    segment += static_cast<char>((comment.size() + 2) & 0xFF);
    segment += comment;
    return jpeg.substr(0, 2) + segment + jpeg.substr(2);
}

std::string render(const FakeLook& look) {
    std::size_t pixels = static_cast<std::size_t>(look.size.width) * look.size.height;
    if (look.green) {
        // All zeros: black luma, and chroma that reads as deep green.
        return std::string(look.fourcc == "NV12" ? pixels * 3 / 2 : look.fourcc == "GREY" ? pixels : pixels * 2, '\0');
    }
    const Image& image = picture(look);
    if (look.fourcc == "YUYV") return yuyv(image);
    if (look.fourcc == "NV12") return nv12(image);
    if (look.fourcc == "GREY") return grey(image);
    return fake_mjpeg(image);
}
}  // namespace

std::string render_fake_frame(const FakeLook& look, std::uint32_t sequence) {
    // Frames repeat their look (a still scene, a lens at rest), and drawing
    // one costs more than a frame period: the last few are kept.
    static std::mutex mutex;
    static std::deque<std::pair<FakeLook, std::string>> recent;
    std::string bytes;
    {
        std::lock_guard lock(mutex);
        for (const auto& [seen, rendered] : recent) {
            if (seen == look) bytes = rendered;
        }
    }
    if (bytes.empty()) {
        bytes = render(look);
        std::lock_guard lock(mutex);
        recent.emplace_back(look, bytes);
        if (recent.size() > 6) recent.pop_front();
    }
    return look.fourcc == "MJPG" ? with_comment(bytes, sequence) : bytes;
}

std::string spoil_fake_jpeg(const std::string& jpeg, FakeDamage damage) {
    if (damage == FakeDamage::damaged) return jpeg.substr(0, jpeg.size() * 3 / 5);
    if (damage == FakeDamage::warning) {
        // Packets lost in the middle of the picture but the frame's end
        // arrived: the decoder fills in the rest and warns.
        return jpeg.substr(0, jpeg.size() * 3 / 5) + "\xFF\xD9";
    }
    return jpeg;
}
