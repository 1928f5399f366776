#include "endpoints/endpoints.h"

using nlohmann::json;

json windows_reply(AppState& state) {
    json windows = json::array();
    for (const WindowInfo& w : state.screen->windows()) {
        windows.push_back({{"id", w.id},
                           {"title", w.title},
                           {"program", w.program ? json(*w.program) : json(nullptr)},
                           {"x", w.area.x},
                           {"y", w.area.y},
                           {"width", w.area.width},
                           {"height", w.area.height},
                           {"monitor", w.monitor > 0 ? json(w.monitor) : json(nullptr)},
                           {"focused", w.focused}});
    }
    return {{"windows", windows}};
}
