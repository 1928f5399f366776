#include "cameras/camera_controls.h"

#include <stdexcept>

std::vector<CameraControl> simulated_camera_controls() {
    return {
        {"focus", 0, 255, 128},
        {"zoom", 100, 400, 100},
        {"exposure", 1, 100, 50},
        {"brightness", -100, 100, 0},
    };
}

const CameraControl& find_control(const std::vector<CameraControl>& controls, std::string_view name) {
    for (const auto& control : controls) {
        if (control.name == name) return control;
    }
    throw std::logic_error("no control " + std::string(name));
}

int control_value(const std::vector<CameraControl>& controls, std::string_view name) {
    return find_control(controls, name).value;
}

int set_control(std::vector<CameraControl>& controls, std::string_view name, std::int64_t value) {
    for (auto& control : controls) {
        if (control.name != name) continue;
        if (value < control.min || value > control.max) throw out_of_range(control, value);
        int was = control.value;
        control.value = static_cast<int>(value);
        return was;
    }
    throw unknown_control(name, controls);
}

Fault out_of_range(const CameraControl& control, std::int64_t value) {
    return {FaultKind::bad_argument, control.name + " must be between " + std::to_string(control.min) + " and " +
                                         std::to_string(control.max) + " (got " + std::to_string(value) + ")"};
}

Fault unknown_control(std::string_view name, const std::vector<CameraControl>& controls) {
    std::string names;
    for (const auto& control : controls) names += (names.empty() ? "" : ", ") + control.name;
    return {FaultKind::bad_argument,
            "unknown control \"" + std::string(name) + "\"; the controls are " + (names.empty() ? "none" : names)};
}
