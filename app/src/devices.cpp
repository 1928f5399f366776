#include "devices.h"

#include "fault.h"
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
    ScreenState now = screen.state();
    if (now.screen) {
        add(screen_device_id);
        if (now.screen->monitors.size() > 1) {
            for (std::size_t i = 1; i <= now.screen->monitors.size(); ++i) add(monitor_device_id(static_cast<int>(i)));
        }
    }
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
    if (auto target = parse_screen_device(id)) {
        // A monitor must be one the screen has now; a window is looked for
        // when it is captured, and a screen that cannot be used says why then.
        if (target->kind == ScreenTarget::Kind::monitor) {
            ScreenState now = screen.state();
            if (now.screen && target->monitor > static_cast<int>(now.screen->monitors.size())) {
                throw Fault{FaultKind::not_found, "no device \"" + std::string(id) + "\"; the devices are " +
                                                      known_ids(cameras, screen, store)};
            }
        }
        return {DeviceKind::screen, std::string(id), nullptr, {}, *target};
    }
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
        json entry = {{"id", about.id}, {"name", about.name}, {"focusable", about.focusable}, {"kind", "camera"}};
        // The size a request without one gets; a camera that cannot tell now
        // is listed without it.
        try {
            FrameSize size = camera->default_size();
            if (size.width > 0 && size.height > 0) {
                entry["width"] = size.width;
                entry["height"] = size.height;
            }
        } catch (const Fault&) {
        }
        devices.push_back(entry);
    }
    ScreenState now = screen_backend.state();
    if (now.screen) {
        const ScreenInfo& screen = *now.screen;
        std::string name = "Screen " + screen.display;
        json entry = {{"id", screen_device_id}, {"focusable", false}, {"kind", "screen"}};
        // Through the desktop portal the size is known only from a capture.
        if (screen.size.width > 0) {
            name += " (" + std::to_string(screen.size.width) + "x" + std::to_string(screen.size.height) + ")";
            entry["width"] = screen.size.width;
            entry["height"] = screen.size.height;
        } else {
            name += std::string(" (") + screen_backend.name() + ")";
        }
        entry["name"] = name;
        devices.push_back(entry);
        if (screen.monitors.size() > 1) {
            for (std::size_t i = 0; i < screen.monitors.size(); ++i) {
                int number = static_cast<int>(i) + 1;
                FrameSize size = monitor_size(screen.monitors[i]);
                devices.push_back({{"id", monitor_device_id(number)},
                                   {"name", monitor_device_name(number, screen.monitors[i])},
                                   {"focusable", false},
                                   {"kind", "screen"},
                                   {"width", size.width},
                                   {"height", size.height}});
            }
        }
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
