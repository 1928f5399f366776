#include "devices.h"
#include "endpoints/endpoints.h"

nlohmann::json devices_reply(AppState& state) {
    std::string warning;
    nlohmann::json reply = {{"devices", list_devices(state.cameras, *state.screen, state.sources, warning)}};
    if (!warning.empty()) reply["warning"] = warning;
    return reply;
}
