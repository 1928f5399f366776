#include "devices.h"
#include "endpoints/endpoints.h"
#include "endpoints/json_body.h"
#include "fault.h"

nlohmann::json controls_reply(AppState& state, std::string_view device_id) {
    DeviceRef device = find_device(device_id, state.cameras, *state.screen, state.sources);
    nlohmann::json controls = nlohmann::json::array();
    // Only cameras have knobs; the screen and network cameras list none.
    if (device.kind == DeviceKind::camera) {
        for (const auto& control : device.camera->controls()) {
            controls.push_back(
                {{"name", control.name}, {"min", control.min}, {"max", control.max}, {"value", control.value}});
        }
    }
    return {{"device", device.id}, {"controls", controls}};
}

nlohmann::json set_control_reply(AppState& state, const nlohmann::json& body) {
    std::string name = required_string_member(body, "name");
    std::int64_t value = required_integer_member(body, "value");
    DeviceRef device =
        find_device(optional_string_member(body, "device").value_or(""), state.cameras, *state.screen, state.sources);
    if (device.kind != DeviceKind::camera) throw Fault{FaultKind::bad_argument, device.id + " has no controls to set"};
    ControlChange change = device.camera->set_control(name, value);
    return {{"device", device.id}, {"control", name}, {"value", change.value}, {"was", change.was}};
}
