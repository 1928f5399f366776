#pragma once
// The eyes the app offers: its cameras (see cameras/camera_registry.h), the
// screen "screen" (when there is one), each of its monitors as "screen:N"
// (when there are several), one window as "window:ID" (found when it is
// captured, never listed) and every registered source as "net:<name>".
#include "cameras/camera_registry.h"
#include "screen/screen_backend.h"
#include "screen/screen_target.h"
#include "sources/sources_store.h"

#include <nlohmann/json.hpp>

#include <memory>
#include <string>
#include <string_view>

enum class DeviceKind { camera, screen, net };

struct DeviceRef {
    DeviceKind kind = DeviceKind::camera;
    std::string id;                  // as the client names it
    std::shared_ptr<Camera> camera;  // for cameras
    NetSource source;                // for net devices
    ScreenTarget screen = {};        // for the screen: all of it, a monitor or a window
};

// Finds the named device; an empty id is the default camera. Faults: not_found
// when there is no camera at all, or no device of that name (the message
// names the devices that exist); a broken sources file fails net devices
// only.
DeviceRef find_device(std::string_view id, CameraRegistry& cameras, ScreenBackend& screen, SourcesStore& store);

// The "devices" list for /devices, each with its own full size in pixels
// (`width`, `height`) where it is known without a capture. When a camera
// cannot be used or the sources file cannot be read, the other devices are
// still listed and `warning` says what is missing and why.
nlohmann::json list_devices(CameraRegistry& cameras, ScreenBackend& screen, SourcesStore& store, std::string& warning);
