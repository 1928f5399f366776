#include "devices.h"
#include "http/endpoints.h"
#include "http/replies.h"

void add_devices_endpoint(httplib::Server& server, AppState& state) {
    server.Get("/api/devices", guarded([&state](const httplib::Request&, httplib::Response& res) {
                   std::string warning;
                   nlohmann::json reply = {{"devices", list_devices(state.sources, warning)}};
                   if (!warning.empty()) reply["warning"] = warning;
                   reply_json(res, reply);
               }));
}
