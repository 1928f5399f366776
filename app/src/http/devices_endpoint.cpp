#include "devices.h"
#include "http/endpoints.h"

nlohmann::json devices_reply(AppState& state) {
    std::string warning;
    nlohmann::json reply = {{"devices", list_devices(state.cameras, state.sources, warning)}};
    if (!warning.empty()) reply["warning"] = warning;
    return reply;
}
