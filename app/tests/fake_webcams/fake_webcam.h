#pragma once
// A fake webcam, as the tests plug it in: what it offers (formats, sizes,
// frame rates, and controls as a UVC webcam has them) and how it behaves
// while it streams. Its frames start dark, its automatic exposure and its
// continuous autofocus settle over frames and start again when a control
// changes them, and its focus motor blurs the picture with the distance from
// a hidden sharp position. On request it is held by another program, pulled
// out, silent or sends damaged frames.
//
// The model knows no operating system: the fake Video4Linux2 devices
// (tests/fake_v4l2) and the fake capture devices (fake_capture_devices.h)
// both put it behind their interface, each failing the way its real
// counterpart fails.
#include "imaging/frame_size.h"
#include "imaging/image.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// One camera of the fake set, as one line of its text names it:
//   video0 webcam fps=30 focus-at=120 dark-frames=8 bus=usb-1 card=Front_Camera
//   video1 metadata bus=usb-1
//   video2 webcam busy | denied | unplug-after=20 | unplug-after-moves=3 | stall-after=5 | damaged-every=2
//   video4 webcam no-timestamps plugged=2 formats=yuyv bandwidth=20
// Models: webcam (Motion-JPEG without Huffman tables and YUYV, a focus motor
// with continuous autofocus on), fixed (YUYV in any size from 160x120 to
// 640x480 in steps of 16, NV12 at 1280x720, no focus), ir (the infrared
// camera of a laptop's face login: greyscale only), h264 (nothing readable),
// metadata and output (not video capture).
struct FakeNodeSettings {
    int number = 0;  // of /dev/videoN, and the capture device's id
    std::string model = "webcam";
    std::string bus;      // default: "usb-fake-N"
    std::string card;     // default: the model's
    int fps = 0;          // when set, no mode runs faster than this
    int focus_at = 120;   // focus position where the picture is sharp
    int lens_rest = 0;    // where the lens parks when the camera stops streaming with autofocus on
    int af_step = 8;      // how far continuous autofocus moves the lens per frame
    int dark_frames = 8;  // frames at a stream's start (and after auto exposure is switched on) before exposure settles
    bool busy = false;    // another program holds it
    bool denied = false;  // the user may not open it
    int unplug_after = -1;        // frames delivered before it is pulled out
    int unplug_after_moves = -1;  // pulled out at the first frame after this many lens moves (a sweep's)
    int stall_after = -1;         // frames per stream before it stops sending
    int damaged_every = 0;        // every Nth frame damaged on its way: a JPEG cut short, a YUV frame flagged
    int empty_every = 0;          // every Nth frame arrives with no bytes in it
    int warning_every = 0;        // every Nth Motion-JPEG frame is readable only with a decoder's warning
    int bandwidth = 0;            // MB/s the bus has left for it; 0: no limit
    std::string formats;          // "yuyv,mjpeg": only these of the model's formats; empty: all
    bool focus_status = false;    // reports whether autofocus has reached focus
    bool no_timestamps = false;   // the driver does not say when a frame was exposed
    int plugged = 1;              // a new number: pulled out and plugged in again

    bool operator==(const FakeNodeSettings&) const = default;
};

// Throws std::invalid_argument naming a line it cannot read.
std::vector<FakeNodeSettings> parse_fake_nodes(const std::string& text);

// What kind of node it is.
bool fake_captures_video(const FakeNodeSettings& settings);
bool fake_is_metadata(const FakeNodeSettings& settings);
std::string fake_card(const FakeNodeSettings& settings);

// One format at one size (or a range of sizes), with its frame rates.
// Four-character codes as Video4Linux2 spells them: "MJPG", "YUYV", "NV12",
// "GREY", "H264".
struct FakeMode {
    std::string fourcc;
    FrameSize size;          // the size; with a step, the largest
    FrameSize smallest{};    // with a step: the smallest
    int step = 0;            // when set: every size from `smallest` to `size` in this step
    std::vector<int> rates;  // frames per second offered, fastest first (fps= applied)
    int default_rate = 0;    // the rate the camera takes when its format is set
};

// Every mode, formats in the order the camera lists them.
std::vector<FakeMode> fake_modes(const FakeNodeSettings& settings);
// The formats in that order, each once.
std::vector<std::string> fake_formats(const FakeNodeSettings& settings);
// The size the camera sets for an asked one in a format (the nearest it
// offers, as drivers choose), and that mode; null when the format is not offered.
const FakeMode* fake_mode_for(const std::vector<FakeMode>& modes, const std::string& fourcc, FrameSize asked,
                              FrameSize& chosen);

// Whether the bus can carry the mode (the bandwidth= setting).
bool fake_bandwidth_suffices(const FakeNodeSettings& settings, const std::string& fourcc, FrameSize size, int rate);

enum class FakeControlType { integer, boolean, menu };

// A control under its v4l2-ctl name ("focus_absolute", "exposure_auto").
struct FakeControl {
    std::string key;
    FakeControlType type = FakeControlType::integer;
    std::string name;  // as the driver names it
    int min = 0, max = 0, step = 1, value = 0;
    bool disabled = false;
    bool read_only = false;
    std::string ruled_by;       // the automatic control that makes it inactive (and refused) while on
    std::string refused_while;  // the firmware refuses it while this automatic control is on, without saying so
    std::vector<int> menu;      // for menus: the entries offered
};

std::vector<FakeControl> fake_controls(const FakeNodeSettings& settings);

// exposure_auto's entries, as Video4Linux2 numbers them.
inline constexpr int fake_exposure_auto = 0;
inline constexpr int fake_exposure_manual = 1;
inline constexpr int fake_exposure_aperture_priority = 3;
// auto_focus_status's values.
inline constexpr int fake_focus_idle = 0;
inline constexpr int fake_focus_busy = 1;
inline constexpr int fake_focus_reached = 2;

// Everything that decides one frame's picture.
struct FakeLook {
    std::string fourcc;
    FrameSize size;
    int blur = 0;       // box blur radius in pixels at this size
    double gain = 1.0;  // light reaching the sensor
    int offset = 0;     // brightness control
    double zoom = 1.0;
    bool green = false;  // the all-zero first frame some cameras send

    bool operator==(const FakeLook&) const = default;
};

// How a frame is spoilt on its way (Motion-JPEG: cut short, or cut and
// closed so that it decodes with a warning; YUV: flagged by the driver).
enum class FakeDamage { none, damaged, empty, warning };

// One frame the camera exposed.
struct FakeExposure {
    std::uint32_t sequence = 0;
    std::chrono::steady_clock::time_point exposed;
    FakeLook look;
    FakeDamage damage = FakeDamage::none;
};

// Why the camera refused a control, in the terms of a UVC camera.
enum class FakeRefusal {
    none,
    unknown,       // no such control
    disabled,      // the driver disabled it
    read_only,     // it cannot be set
    automatic,     // an automatic mode rules it (the driver knows), or the firmware says "wrong state"
    out_of_range,  // a menu entry beyond the menu
    not_offered,   // a menu entry the camera lacks
};

// One plugged-in camera and the stream it runs, if any.
class FakeWebcam {
public:
    using Time = std::chrono::steady_clock::time_point;

    explicit FakeWebcam(FakeNodeSettings settings);

    const FakeNodeSettings& settings() const { return settings_; }
    const std::vector<FakeControl>& controls() const { return controls_; }
    const FakeControl* control(const std::string& key) const;

    // What the camera reports for a control now (focus follows autofocus).
    int value_of(const FakeControl& control, Time now) const;
    bool inactive(const FakeControl& control) const;
    // Sets a control as UVC cameras and their driver do: integers rounded to
    // the step and clamped to the range, booleans clamped; `value` becomes
    // what was set.
    FakeRefusal set_control(const std::string& key, int& value, Time now);

    // Starts exposing frames at `rate` per second, the first one period
    // from now.
    void start(const std::string& fourcc, FrameSize size, int rate, Time now);
    void stop(Time now);
    bool streaming() const { return streaming_; }
    int rate() const { return rate_; }
    std::chrono::nanoseconds period() const;
    // Exposes every frame due by `now`, in order; `deliver` takes each and
    // says whether a buffer waited for it (false: the frame is dropped).
    void expose_until(Time now, const std::function<bool(const FakeExposure&)>& deliver);
    // When the next frame is due; Time::max() when none will come.
    Time next_exposure() const;
    // Pulled out (after unplug-after delivered frames), and when.
    bool unplugged() const { return unplugged_; }
    Time unplugged_at() const { return unplugged_at_; }
    int lens(Time now) const;

private:
    FakeControl* find(const std::string& key);
    bool automatic_on(const std::string& key) const;
    bool stalled() const;
    FakeLook look_now(Time when);
    void restart_autofocus();
    void step_autofocus(Time when);
    double exposure_gain() const;

    FakeNodeSettings settings_;
    std::vector<FakeControl> controls_;
    // The focus motor: where it was and is going, and when it gets there.
    int lens_from_ = 0, lens_to_ = 0;
    Time lens_arrives_{};
    // Continuous autofocus: 0 about to start, 1 heading past the sharp
    // position (as contrast autofocus overshoots), 2 back to it, 3 holding.
    int af_phase_ = 3;
    int af_target_ = 0;
    // Automatic exposure: converging from this gain since this frame.
    double ae_from_ = 1.0;
    int ae_since_ = 0;

    bool streaming_ = false;
    std::string fourcc_;
    FrameSize size_;
    int rate_ = 30;
    Time next_frame_{};
    std::uint32_t sequence_ = 0;
    int stream_frames_ = 0;  // frames exposed since the stream started
    int delivered_ = 0;      // over the camera's life
    int lens_moves_ = 0;     // focus_absolute set, over the camera's life
    bool unplugged_ = false;
    Time unplugged_at_{};
};

// The frame's bytes in its format. Motion-JPEG frames lack Huffman tables
// and carry a comment "fake frame N" so that tests can tell the camera's own
// bytes from a re-encoded picture.
std::string render_fake_frame(const FakeLook& look, std::uint32_t sequence);
// A Motion-JPEG frame spoilt on its way: cut short, or cut and closed with an
// end-of-image marker (readable with a warning).
std::string spoil_fake_jpeg(const std::string& jpeg, FakeDamage damage);

// Whether this build can draw Motion-JPEG frames (it needs libjpeg-turbo);
// without it the models offer no Motion-JPEG.
bool fake_mjpeg_available();
std::string fake_mjpeg(const Image& picture);
