#include "devices.h"
#include "http/endpoints.h"
#include "http/json_body.h"
#include "http/replies.h"
#include "refusal.h"

#include <chrono>
#include <cmath>

namespace {
double rounded(double sharpness) {
    return std::round(sharpness * 10) / 10;
}
}  // namespace

void add_focus_endpoint(httplib::Server& server, AppState& state) {
    server.Post("/api/focus", guarded([&state](const httplib::Request& req, httplib::Response& res) {
                    nlohmann::json body = parse_json_object(req.body);
                    DeviceRef device = find_device(optional_string_member(body, "device").value_or(""), state.sources);
                    if (device.kind != DeviceKind::camera) {
                        throw Refusal{400, device.id + " has no lens to focus; only the camera \"" +
                                               simulated_camera_id + "\" can focus"};
                    }
                    auto started = std::chrono::steady_clock::now();
                    SweepResult sweep = autofocus_camera(state.camera);
                    auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                                      started);

                    nlohmann::json samples = nlohmann::json::array();
                    for (const auto& sample : sweep.samples) {
                        samples.push_back({{"focus", sample.focus}, {"sharpness", rounded(sample.sharpness)}});
                    }
                    reply_json(res, {{"sweep",
                                      {{"device", device.id},
                                       {"focus", sweep.focus},
                                       {"sharpness", rounded(sweep.sharpness)},
                                       {"samples", samples},
                                       {"ms", took.count()}}}});
                }));
}
