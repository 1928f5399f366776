#include "cameras/v4l2/v4l2_controls.h"

#include <linux/videodev2.h>

#include <cerrno>
#include <string>

namespace {
struct Mapping {
    const char* name;
    std::uint32_t id;
    std::uint32_t automatic = 0;  // the automatic mode to switch off before setting it
    // The automatic mode a camera may refuse it under without the driver
    // knowing (firmware answering "wrong state"), when it is not `automatic`.
    std::uint32_t refused_under = 0;
};

const Mapping mappings[] = {
    {"focus", V4L2_CID_FOCUS_ABSOLUTE, V4L2_CID_FOCUS_AUTO},
    {"autofocus", V4L2_CID_FOCUS_AUTO},
    {"zoom", V4L2_CID_ZOOM_ABSOLUTE},
    {"exposure", V4L2_CID_EXPOSURE_ABSOLUTE, V4L2_CID_EXPOSURE_AUTO},
    {"auto_exposure", V4L2_CID_EXPOSURE_AUTO},
    {"brightness", V4L2_CID_BRIGHTNESS},
    {"contrast", V4L2_CID_CONTRAST},
    {"saturation", V4L2_CID_SATURATION},
    {"hue", V4L2_CID_HUE, 0, V4L2_CID_HUE_AUTO},
    {"gamma", V4L2_CID_GAMMA},
    {"gain", V4L2_CID_GAIN, 0, V4L2_CID_EXPOSURE_AUTO},
    {"sharpness", V4L2_CID_SHARPNESS},
    {"white_balance", V4L2_CID_WHITE_BALANCE_TEMPERATURE, V4L2_CID_AUTO_WHITE_BALANCE},
    {"auto_white_balance", V4L2_CID_AUTO_WHITE_BALANCE},
    {"backlight_compensation", V4L2_CID_BACKLIGHT_COMPENSATION},
    {"power_line_frequency", V4L2_CID_POWER_LINE_FREQUENCY},
    {"pan", V4L2_CID_PAN_ABSOLUTE},
    {"tilt", V4L2_CID_TILT_ABSOLUTE},
};

// The app's name of an automatic mode's control.
const char* app_name(std::uint32_t id) {
    for (const Mapping& mapping : mappings) {
        if (mapping.id == id) return mapping.name;
    }
    return nullptr;
}

std::optional<v4l2_queryctrl> query(DeviceFile& device, std::uint32_t id) {
    v4l2_queryctrl control{};
    control.id = id;
    if (device.call(VIDIOC_QUERYCTRL, &control) < 0) return std::nullopt;
    return control;
}

bool settable_type(std::uint32_t type) {
    return type == V4L2_CTRL_TYPE_INTEGER || type == V4L2_CTRL_TYPE_BOOLEAN || type == V4L2_CTRL_TYPE_MENU ||
           type == V4L2_CTRL_TYPE_INTEGER_MENU;
}

// Whether the control is there for the app to offer.
bool offered(const std::optional<v4l2_queryctrl>& control, const Mapping& mapping) {
    if (!control || !settable_type(control->type)) return false;
    if (control->flags & (V4L2_CTRL_FLAG_DISABLED | V4L2_CTRL_FLAG_READ_ONLY | V4L2_CTRL_FLAG_WRITE_ONLY)) return false;
    // Inactive because an automatic mode rules it: offered only when the app
    // can switch that mode off.
    return !(control->flags & V4L2_CTRL_FLAG_INACTIVE) || mapping.automatic != 0;
}

int read_value(DeviceFile& device, std::uint32_t id) {
    v4l2_control control{};
    control.id = id;
    device.require(VIDIOC_G_CTRL, &control, "VIDIOC_G_CTRL");
    return control.value;
}

void write_value(DeviceFile& device, std::uint32_t id, int value, const char* name) {
    v4l2_control control{};
    control.id = id;
    control.value = value;
    device.require(VIDIOC_S_CTRL, &control, (std::string("setting ") + name).c_str());
}

bool menu_has(DeviceFile& device, std::uint32_t id, int index) {
    v4l2_querymenu item{};
    item.id = id;
    item.index = static_cast<std::uint32_t>(index);
    return device.call(VIDIOC_QUERYMENU, &item) == 0;
}

// auto_exposure is shown as 0 (manual) or 1 (automatic), whichever
// automatic mode of the menu the camera has.
int automatic_exposure_mode(DeviceFile& device) {
    for (int mode : {V4L2_EXPOSURE_APERTURE_PRIORITY, V4L2_EXPOSURE_AUTO}) {
        if (menu_has(device, V4L2_CID_EXPOSURE_AUTO, mode)) return mode;
    }
    return V4L2_EXPOSURE_APERTURE_PRIORITY;
}

int shown_value(std::uint32_t id, int device_value) {
    if (id == V4L2_CID_EXPOSURE_AUTO) return device_value == V4L2_EXPOSURE_MANUAL ? 0 : 1;
    return device_value;
}

CameraControl shown_control(DeviceFile& device, const Mapping& mapping, const v4l2_queryctrl& control) {
    if (mapping.id == V4L2_CID_EXPOSURE_AUTO) {
        return {mapping.name, 0, 1, shown_value(mapping.id, read_value(device, mapping.id)), 1};
    }
    return {mapping.name, control.minimum, control.maximum, read_value(device, mapping.id),
            control.step > 0 ? control.step : 1};
}

// The automatic mode's "off": manual exposure, or 0 for the on/off ones.
int manual_value(std::uint32_t automatic) {
    return automatic == V4L2_CID_EXPOSURE_AUTO ? V4L2_EXPOSURE_MANUAL : 0;
}

void switch_off(DeviceFile& device, std::uint32_t automatic, const char* name) {
    auto control = query(device, automatic);
    if (!control || (control->flags & (V4L2_CTRL_FLAG_DISABLED | V4L2_CTRL_FLAG_READ_ONLY))) return;
    int manual = manual_value(automatic);
    if (read_value(device, automatic) != manual) write_value(device, automatic, manual, name);
}
}  // namespace

std::vector<CameraControl> read_controls(DeviceFile& device) {
    std::vector<CameraControl> controls;
    for (const Mapping& mapping : mappings) {
        auto control = query(device, mapping.id);
        if (offered(control, mapping)) controls.push_back(shown_control(device, mapping, *control));
    }
    return controls;
}

ControlChange write_control(DeviceFile& device, std::string_view name, std::int64_t value) {
    for (const Mapping& mapping : mappings) {
        if (mapping.name != name) continue;
        auto control = query(device, mapping.id);
        if (!offered(control, mapping)) break;
        CameraControl shown = shown_control(device, mapping, *control);
        if (value < shown.min || value > shown.max) throw out_of_range(shown, value);
        if (mapping.automatic) switch_off(device, mapping.automatic, mapping.name);
        int device_value = static_cast<int>(value);
        if (mapping.id == V4L2_CID_EXPOSURE_AUTO) {
            device_value = value == 0 ? V4L2_EXPOSURE_MANUAL : automatic_exposure_mode(device);
        }
        try {
            write_value(device, mapping.id, device_value, mapping.name);
        } catch (const DeviceError& error) {
            // uvcvideo refuses a control whose automatic mode is on with
            // EACCES, and so does a camera's firmware answering "wrong state".
            if (error.error != EACCES) throw;
            std::uint32_t ruler = mapping.automatic ? mapping.automatic : mapping.refused_under;
            const char* ruler_name = ruler ? app_name(ruler) : nullptr;
            bool on = ruler_name && query(device, ruler) && read_value(device, ruler) != manual_value(ruler);
            throw CaptureError(CaptureFailure::automatic, error.what(), on ? ruler_name : "");
        }
        return {shown.value, shown_value(mapping.id, read_value(device, mapping.id))};
    }
    throw unknown_control(name, read_controls(device));
}

std::optional<FocusRange> focus_range(DeviceFile& device) {
    auto control = query(device, V4L2_CID_FOCUS_ABSOLUTE);
    if (!offered(control, mappings[0]) || control->maximum <= control->minimum) return std::nullopt;
    return FocusRange{control->minimum, control->maximum, control->step > 0 ? control->step : 1};
}

std::optional<bool> focus_reached(DeviceFile& device) {
    auto status = query(device, V4L2_CID_AUTO_FOCUS_STATUS);
    if (!status || (status->flags & V4L2_CTRL_FLAG_DISABLED)) return std::nullopt;
    return (read_value(device, V4L2_CID_AUTO_FOCUS_STATUS) & V4L2_AUTO_FOCUS_STATUS_BUSY) == 0;
}
