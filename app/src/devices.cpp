#include "devices.h"

#include "cameras/simulated_camera.h"
#include "refusal.h"
#include "screen/screen_capture.h"
#include "sources/registered_sources.h"

#include <cstdio>

using nlohmann::json;

namespace {
std::vector<NetSource> sources_or_refuse(SourcesStore& store) {
    std::lock_guard lock(store.mutex);
    return load_sources_or_refuse(store);
}

std::string known_ids(SourcesStore& store) {
    std::string ids = std::string("\"") + simulated_camera_id + "\"";
    if (find_screen()) ids += ", \"screen\"";
    try {
        for (const auto& source : sources_or_refuse(store)) ids += ", \"net:" + source.name + "\"";
    } catch (const Refusal&) {
        // The list of ids is only advice; a broken sources file is reported
        // where sources are used.
    }
    return ids;
}
}  // namespace

DeviceRef find_device(std::string_view id, SourcesStore& store) {
    if (id.empty() || id == simulated_camera_id) return {DeviceKind::camera, simulated_camera_id, {}};
    if (id == screen_device_id) return {DeviceKind::screen, screen_device_id, {}};
    if (id.substr(0, 4) == "net:") {
        std::string_view name = id.substr(4);
        for (const auto& source : sources_or_refuse(store)) {
            if (source.name == name) return {DeviceKind::net, std::string(id), source};
        }
        throw Refusal{404, "no network camera named \"" + std::string(name) +
                               "\" is registered; see vistrel sources, or add one with vistrel add-source"};
    }
    throw Refusal{404, "no device \"" + std::string(id) + "\"; the devices are " + known_ids(store)};
}

json list_devices(SourcesStore& store, std::string& warning) {
    json devices = json::array();
    devices.push_back(
        {{"id", simulated_camera_id}, {"name", simulated_camera_name}, {"focusable", true}, {"kind", "camera"}});
    if (auto screen = find_screen()) {
        char name[96];
        std::snprintf(name, sizeof name, "Screen %s (%dx%d)", screen->display.c_str(), screen->size.width,
                      screen->size.height);
        devices.push_back({{"id", screen_device_id}, {"name", name}, {"focusable", false}, {"kind", "screen"}});
    }
    std::vector<NetSource> sources;
    try {
        sources = sources_or_refuse(store);
    } catch (const Refusal& refusal) {
        warning = refusal.message;
    }
    for (const auto& source : sources) {
        devices.push_back({{"id", "net:" + source.name},
                           {"name", "Network camera " + source.name},
                           {"focusable", false},
                           {"kind", "net"},
                           {"url", source.url}});
    }
    return devices;
}
