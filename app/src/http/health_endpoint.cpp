#include "http/endpoints.h"
#include "http/replies.h"
#include "screen/screen_capture.h"

void add_health_endpoint(httplib::Server& server, AppState& state) {
    server.Get("/api/health", guarded([&state](const httplib::Request&, httplib::Response& res) {
                   auto screen = find_screen();
                   reply_json(res, {
                                       {"version", VISTREL_APP_VERSION},
                                       {"port", state.port},
                                       {"settings",
                                        {{"device", simulated_camera_id},
                                         {"width", simulated_camera_width},
                                         {"height", simulated_camera_height}}},
                                       {"camera", "simulated"},
                                       {"screen", screen ? nlohmann::json(screen->display) : nlohmann::json(nullptr)},
                                       {"recording", state.recording.load()},
                                   });
               }));
}

std::string query_device(const httplib::Request& req) {
    return req.get_param_value("device");
}
