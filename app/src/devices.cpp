#include "devices.h"

#include "fault.h"
#include "screen/screen_capture.h"
#include "sources/registered_sources.h"

using nlohmann::json;

namespace {
std::vector<NetSource> sources_or_refuse(SourcesStore& store) {
    // Without a lock: the file is only ever replaced whole.
    return load_sources_or_refuse(store);
}

std::string known_ids(CameraRegistry& cameras, ScreenBackend& screen, SourcesStore& store) {
    std::string ids;
    auto add = [&](const std::string& id) { ids += (ids.empty() ? "\"" : ", \"") + id + "\""; };
    for (const auto& camera : list_cameras(cameras)) add(camera->description().id);
    if (screen.find()) add(screen_device_id);
    try {
        for (const auto& source : sources_or_refuse(store)) add("net:" + source.name);
    } catch (const Fault&) {
        // The list of ids is only advice; a broken sources file is reported
        // where sources are used.
    }
    return ids.empty() ? "none" : ids;
}
}  // namespace

DeviceRef find_device(std::string_view id, CameraRegistry& cameras, ScreenBackend& screen, SourcesStore& store) {
    if (id.empty()) {
        auto camera = default_camera(cameras);
        if (!camera) throw Fault{FaultKind::not_found, no_camera_text(cameras)};
        return {DeviceKind::camera, camera->description().id, camera, {}};
    }
    if (id == screen_device_id) return {DeviceKind::screen, screen_device_id, nullptr, {}};
    if (id.substr(0, 4) == "net:") {
        std::string_view name = id.substr(4);
        for (const auto& source : sources_or_refuse(store)) {
            if (source.name == name) return {DeviceKind::net, std::string(id), nullptr, source};
        }
        throw Fault{FaultKind::not_found,
                    "no network camera named \"" + std::string(name) +
                        "\" is registered; see vistrel sources, or add one with vistrel add-source"};
    }
    if (auto camera = find_camera(cameras, id)) return {DeviceKind::camera, std::string(id), camera, {}};
    throw Fault{FaultKind::not_found,
                "no device \"" + std::string(id) + "\"; the devices are " + known_ids(cameras, screen, store)};
}

json list_devices(CameraRegistry& cameras, ScreenBackend& screen_backend, SourcesStore& store, std::string& warning) {
    json devices = json::array();
    for (const auto& camera : list_cameras(cameras)) {
        CameraDescription about = camera->description();
        devices.push_back({{"id", about.id}, {"name", about.name}, {"focusable", about.focusable}, {"kind", "camera"}});
    }
    if (auto screen = screen_backend.find()) {
        std::string name = "Screen " + screen->display;
        // Through the desktop portal the size is known only from a capture.
        if (screen->size.width > 0) {
            name += " (" + std::to_string(screen->size.width) + "x" + std::to_string(screen->size.height) + ")";
        } else {
            name += std::string(" (") + screen_backend.name() + ")";
        }
        devices.push_back({{"id", screen_device_id}, {"name", name}, {"focusable", false}, {"kind", "screen"}});
    }
    warning = camera_trouble(cameras);
    std::vector<NetSource> sources;
    try {
        sources = sources_or_refuse(store);
    } catch (const Fault& fault) {
        warning += (warning.empty() ? "" : "; ") + fault.message;
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
