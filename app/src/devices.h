#pragma once
// The eyes the app offers: the simulated camera "0", the X display "screen"
// (when there is one) and every registered source as "net:<name>".
#include "sources/sources_store.h"

#include <nlohmann/json.hpp>

#include <string>
#include <string_view>

enum class DeviceKind { camera, screen, net };

struct DeviceRef {
    DeviceKind kind = DeviceKind::camera;
    std::string id;    // as the client names it
    NetSource source;  // for net devices
};

// The default device when a request names none (absent, null or empty).
inline constexpr const char* default_device_id = "0";

// Finds the named device. A Refusal (404) names the devices that exist.
// A broken sources file is a Refusal (500) for net devices only.
DeviceRef find_device(std::string_view id, SourcesStore& store);

// The "devices" list for /devices. When the sources file cannot be read the
// other devices are still listed and `warning` says why sources are missing.
nlohmann::json list_devices(SourcesStore& store, std::string& warning);
