#pragma once
// A webcam's knobs under the app's names. Each name maps to one V4L2
// control; the automatic modes that would override a manual setting are
// switched off before it is made:
//
//   focus                  focus_absolute       continuous autofocus off first
//   autofocus              focus_auto (0/1)
//   zoom                   zoom_absolute
//   exposure               exposure_absolute    auto exposure to manual first
//   auto_exposure          exposure_auto        0 manual, 1 the camera's automatic mode
//   white_balance          white_balance_temperature   auto white balance off first
//   auto_white_balance     white_balance_temperature_auto (0/1)
//   brightness, contrast, saturation, hue, gamma, gain, sharpness,
//   backlight_compensation, power_line_frequency, pan (pan_absolute),
//   tilt (tilt_absolute)
//
// Controls the camera lacks, has disabled, cannot set, or holds inactive
// for a reason the app cannot switch off, are not offered.
#include "cameras/camera.h"
#include "cameras/camera_controls.h"
#include "cameras/capture_device.h"
#include "cameras/v4l2/device_file.h"

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

// Min, max and the current value of every control offered, in the order
// of the table above.
std::vector<CameraControl> read_controls(DeviceFile& device);

// Sets one control and reads back what it holds now. A bad-argument Fault
// for a name not offered or a value outside its range; CaptureError
// (automatic) when the camera refuses it under an automatic mode; DeviceError
// when a call fails otherwise.
ControlChange write_control(DeviceFile& device, std::string_view name, std::int64_t value);

struct FocusRange {
    int min = 0;
    int max = 0;
    int step = 1;
};

// The lens's absolute focus control, when the camera has a usable one.
std::optional<FocusRange> focus_range(DeviceFile& device);

// Whether continuous autofocus has reached focus, for a camera that
// reports it (V4L2_CID_AUTO_FOCUS_STATUS); nullopt for one that does not.
std::optional<bool> focus_reached(DeviceFile& device);
