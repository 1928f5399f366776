#include "devices.h"
#include "http/endpoints.h"
#include "http/json_body.h"
#include "http/replies.h"
#include "refusal.h"

void add_controls_endpoints(httplib::Server& server, AppState& state) {
    server.Get(
        "/api/controls", guarded([&state](const httplib::Request& req, httplib::Response& res) {
            DeviceRef device = find_device(query_device(req), state.sources);
            nlohmann::json controls = nlohmann::json::array();
            // Only the camera has knobs; the screen and network cameras list none.
            if (device.kind == DeviceKind::camera) {
                for (const auto& control : camera_controls(state.camera)) {
                    controls.push_back(
                        {{"name", control.name}, {"min", control.min}, {"max", control.max}, {"value", control.value}});
                }
            }
            reply_json(res, {{"device", device.id}, {"controls", controls}});
        }));

    server.Post("/api/controls", guarded([&state](const httplib::Request& req, httplib::Response& res) {
                    nlohmann::json body = parse_json_object(req.body);
                    std::string name = required_string_member(body, "name");
                    std::int64_t value = required_integer_member(body, "value");
                    DeviceRef device = find_device(optional_string_member(body, "device").value_or(""), state.sources);
                    if (device.kind != DeviceKind::camera) throw Refusal{400, device.id + " has no controls to set"};
                    int was = set_camera_control(state.camera, name, value);
                    reply_json(res, {{"device", device.id}, {"control", name}, {"value", value}, {"was", was}});
                }));
}
