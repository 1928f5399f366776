#pragma once
// The knobs of a camera, each a whole number within a range.
#include "fault.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct CameraControl {
    std::string name;
    int min = 0;
    int max = 0;
    int value = 0;
    int step = 1;  // the values are min + k * step
};

// The simulated camera's knobs: focus (lens position), zoom (percent),
// exposure and brightness.
std::vector<CameraControl> simulated_camera_controls();

// A control that is known to exist, and its value.
const CameraControl& find_control(const std::vector<CameraControl>& controls, std::string_view name);
int control_value(const std::vector<CameraControl>& controls, std::string_view name);

// Sets one control and returns its previous value. An unknown name or a value
// outside the range is a bad-argument Fault that says what would be accepted.
int set_control(std::vector<CameraControl>& controls, std::string_view name, std::int64_t value);

// The refusals of set_control, worded alike for every kind of camera.
Fault out_of_range(const CameraControl& control, std::int64_t value);
Fault unknown_control(std::string_view name, const std::vector<CameraControl>& controls);
