#include "devices.h"
#include "http/endpoints.h"
#include "http/replies.h"

nlohmann::json devices_reply(AppState& state) {
    std::string warning;
    nlohmann::json reply = {{"devices", list_devices(state.cameras, state.sources, warning)}};
    if (!warning.empty()) reply["warning"] = warning;
    return reply;
}

void add_devices_endpoint(httplib::Server& server, AppState& state) {
    server.Get("/api/devices", guarded([&state](const httplib::Request&, httplib::Response& res) {
                   reply_json(res, devices_reply(state));
               }));
}
