#include "devices.h"
#include "endpoints/endpoints.h"
#include "endpoints/json_body.h"
#include "fault.h"

#include <chrono>
#include <cmath>

namespace {
double rounded(double sharpness) {
    return std::round(sharpness * 10) / 10;
}

// For the refusal of a device without a lens: which ones have one.
std::string focusable_ids(CameraRegistry& cameras) {
    std::string ids;
    for (const auto& camera : list_cameras(cameras)) {
        CameraDescription about = camera->description();
        if (about.focusable) ids += (ids.empty() ? "\"" : ", \"") + about.id + "\"";
    }
    return ids.empty() ? "no camera here can focus" : "the cameras that can focus are " + ids;
}
}  // namespace

nlohmann::json focus_reply(AppState& state, const nlohmann::json& body) {
    DeviceRef device =
        find_device(optional_string_member(body, "device").value_or(""), state.cameras, *state.screen, state.sources);
    if (device.kind != DeviceKind::camera) {
        throw Fault{FaultKind::bad_argument, device.id + " has no lens to focus; " + focusable_ids(state.cameras)};
    }
    CameraDescription about = device.camera->description();
    if (!about.focusable) {
        throw Fault{FaultKind::bad_argument, "camera " + about.id + " (" + about.name + ") has a fixed-focus lens; " +
                                                 focusable_ids(state.cameras)};
    }
    auto started = std::chrono::steady_clock::now();
    SweepResult sweep = device.camera->focus_sweep();
    auto took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);

    nlohmann::json samples = nlohmann::json::array();
    for (const auto& sample : sweep.samples) {
        samples.push_back({{"focus", sample.focus}, {"sharpness", rounded(sample.sharpness)}});
    }
    return {{"sweep",
             {{"device", device.id},
              {"focus", sweep.focus},
              {"sharpness", rounded(sweep.sharpness)},
              {"samples", samples},
              {"frames", sweep.frames},
              {"discarded", sweep.discarded},
              {"ms", took.count()}}}};
}
