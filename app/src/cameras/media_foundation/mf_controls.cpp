#include "cameras/media_foundation/mf_controls.h"

#include "platform/com_ref.h"
#include "cameras/media_foundation/mf_failures.h"

#include <strmif.h>

#include <string>

namespace {
enum class Interface { camera, video };

struct Mapping {
    const char* name;
    Interface from;
    long property;
    // The property's Auto flag as an on/off control, instead of its value.
    bool automatic = false;
    // The app name of the toggle of this property's Auto flag, switched off
    // before a manual value is set.
    const char* ruled_by = nullptr;
    // The automatic mode a camera may refuse it under without saying so,
    // when that is another property's ("gain" under auto exposure).
    const char* refused_under = nullptr;
};

const Mapping mappings[] = {
    {"focus", Interface::camera, CameraControl_Focus, false, "autofocus"},
    {"autofocus", Interface::camera, CameraControl_Focus, true},
    {"zoom", Interface::camera, CameraControl_Zoom},
    {"exposure", Interface::camera, CameraControl_Exposure, false, "auto_exposure"},
    {"auto_exposure", Interface::camera, CameraControl_Exposure, true},
    {"brightness", Interface::video, VideoProcAmp_Brightness},
    {"contrast", Interface::video, VideoProcAmp_Contrast},
    {"saturation", Interface::video, VideoProcAmp_Saturation},
    {"hue", Interface::video, VideoProcAmp_Hue},
    {"gamma", Interface::video, VideoProcAmp_Gamma},
    {"gain", Interface::video, VideoProcAmp_Gain, false, nullptr, "auto_exposure"},
    {"sharpness", Interface::video, VideoProcAmp_Sharpness},
    {"white_balance", Interface::video, VideoProcAmp_WhiteBalance, false, "auto_white_balance"},
    {"auto_white_balance", Interface::video, VideoProcAmp_WhiteBalance, true},
    {"backlight_compensation", Interface::video, VideoProcAmp_BacklightCompensation},
    {"pan", Interface::camera, CameraControl_Pan},
    {"tilt", Interface::camera, CameraControl_Tilt},
};

// Both interfaces share their flags' values (1 automatic, 2 manual) and
// their calls' shapes; this hides which one a property belongs to.
class Properties {
public:
    explicit Properties(IMFMediaSource* source) {
        source->QueryInterface(IID_IAMCameraControl, reinterpret_cast<void**>(camera_.put()));
        source->QueryInterface(IID_IAMVideoProcAmp, reinterpret_cast<void**>(video_.put()));
    }

    struct Range {
        long min = 0, max = 0, step = 0, fallback = 0, caps = 0;
    };
    std::optional<Range> range(Interface in, long property) {
        Range range;
        HRESULT result = E_NOINTERFACE;
        if (in == Interface::camera && camera_) {
            result = camera_->GetRange(property, &range.min, &range.max, &range.step, &range.fallback, &range.caps);
        } else if (in == Interface::video && video_) {
            result = video_->GetRange(property, &range.min, &range.max, &range.step, &range.fallback, &range.caps);
        }
        // A property the camera lacks answers E_PROP_ID_UNSUPPORTED or the
        // like; one whose device went is worth telling.
        if (FAILED(result)) {
            if (capture_failure_of(MfCall::controls, result) == CaptureFailure::gone) {
                throw capture_error(MfCall::controls, "reading the camera's controls", result);
            }
            return std::nullopt;
        }
        return range;
    }

    struct Value {
        long value = 0, flags = 0;
    };
    Value get(Interface in, long property, const char* name) {
        Value value;
        HRESULT result = in == Interface::camera ? camera_->Get(property, &value.value, &value.flags)
                                                 : video_->Get(property, &value.value, &value.flags);
        if (FAILED(result)) throw capture_error(MfCall::controls, std::string("reading ") + name, result);
        return value;
    }

    HRESULT set(Interface in, long property, long value, long flags) {
        return in == Interface::camera ? camera_->Set(property, value, flags) : video_->Set(property, value, flags);
    }

private:
    ComRef<IAMCameraControl> camera_;
    ComRef<IAMVideoProcAmp> video_;
};

constexpr long auto_flag = CameraControl_Flags_Auto;      // = VideoProcAmp_Flags_Auto
constexpr long manual_flag = CameraControl_Flags_Manual;  // = VideoProcAmp_Flags_Manual

bool offered(const Mapping& mapping, const Properties::Range& range) {
    if (mapping.automatic) return (range.caps & auto_flag) && (range.caps & manual_flag);
    return (range.caps & manual_flag) && range.max >= range.min;
}

CameraControl shown_control(Properties& properties, const Mapping& mapping, const Properties::Range& range) {
    Properties::Value now = properties.get(mapping.from, mapping.property, mapping.name);
    if (mapping.automatic) return {mapping.name, 0, 1, (now.flags & auto_flag) ? 1 : 0, 1};
    return {mapping.name, static_cast<int>(range.min), static_cast<int>(range.max), static_cast<int>(now.value),
            range.step > 0 ? static_cast<int>(range.step) : 1};
}

const Mapping* mapping_named(std::string_view name) {
    for (const Mapping& mapping : mappings) {
        if (mapping.name == name) return &mapping;
    }
    return nullptr;
}

// Whether the named automatic toggle is offered and on.
bool automatic_on(Properties& properties, const char* name) {
    const Mapping* toggle = name ? mapping_named(name) : nullptr;
    if (!toggle) return false;
    auto range = properties.range(toggle->from, toggle->property);
    if (!range || !offered(*toggle, *range)) return false;
    return properties.get(toggle->from, toggle->property, toggle->name).flags & auto_flag;
}
}  // namespace

int nearest_step(const CameraControl& control, std::int64_t value) {
    std::int64_t step = control.step > 0 ? control.step : 1;
    std::int64_t steps = (value - control.min + step / 2) / step;
    std::int64_t stepped = control.min + steps * step;
    if (stepped > control.max) stepped -= step;
    if (stepped < control.min) stepped = control.min;
    return static_cast<int>(stepped);
}

std::vector<CameraControl> read_controls(IMFMediaSource* source) {
    Properties properties(source);
    std::vector<CameraControl> controls;
    for (const Mapping& mapping : mappings) {
        auto range = properties.range(mapping.from, mapping.property);
        if (range && offered(mapping, *range)) controls.push_back(shown_control(properties, mapping, *range));
    }
    return controls;
}

ControlChange write_control(IMFMediaSource* source, std::string_view name, std::int64_t value) {
    Properties properties(source);
    const Mapping* mapping = mapping_named(name);
    auto range = mapping ? properties.range(mapping->from, mapping->property) : std::nullopt;
    if (!mapping || !range || !offered(*mapping, *range)) throw unknown_control(name, read_controls(source));
    CameraControl shown = shown_control(properties, *mapping, *range);
    if (value < shown.min || value > shown.max) throw out_of_range(shown, value);
    Properties::Value now = properties.get(mapping->from, mapping->property, mapping->name);
    std::string doing = "setting " + std::string(mapping->name);
    HRESULT result = S_OK;
    if (mapping->automatic) {
        // The value stays; only the flag changes.
        result = properties.set(mapping->from, mapping->property, now.value, value ? auto_flag : manual_flag);
    } else {
        // The automatic mode off first, at the value it had reached, so that
        // it cannot override the manual one.
        if (now.flags & auto_flag) {
            result = properties.set(mapping->from, mapping->property, now.value, manual_flag);
            if (FAILED(result)) throw capture_error(MfCall::controls, "switching off " + doing, result);
        }
        result = properties.set(mapping->from, mapping->property, nearest_step(shown, value), manual_flag);
    }
    if (FAILED(result)) {
        CaptureError error = capture_error(MfCall::controls, doing, result);
        // A camera that refuses a property while an automatic mode rules it.
        const char* ruler = mapping->ruled_by ? mapping->ruled_by : mapping->refused_under;
        if (error.failure != CaptureFailure::gone && automatic_on(properties, ruler)) {
            throw CaptureError(CaptureFailure::automatic, error.what(), ruler);
        }
        throw error;
    }
    return {shown.value, shown_control(properties, *mapping, *range).value};
}

bool has_manual_focus(IMFMediaSource* source) {
    Properties properties(source);
    auto range = properties.range(Interface::camera, CameraControl_Focus);
    return range && (range->caps & manual_flag) && range->max > range->min;
}
