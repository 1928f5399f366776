#include "cameras/v4l2/v4l2_cameras.h"

#include "cameras/v4l2/device_file.h"
#include "cameras/v4l2/v4l2_controls.h"

#include <linux/videodev2.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {
std::string text_of(const __u8* field, std::size_t size) {
    const char* text = reinterpret_cast<const char*>(field);
    return std::string(text, strnlen(text, size));
}

std::optional<CameraNode> camera_at(VideoDevices& devices, const std::string& path, std::vector<std::string>& denied) {
    try {
        DeviceFile device(devices, path);
        v4l2_capability capability{};
        if (device.call(VIDIOC_QUERYCAP, &capability) < 0) return std::nullopt;
        std::uint32_t caps =
            (capability.capabilities & V4L2_CAP_DEVICE_CAPS) ? capability.device_caps : capability.capabilities;
        if (!(caps & V4L2_CAP_VIDEO_CAPTURE) || !(caps & V4L2_CAP_STREAMING)) return std::nullopt;
        CameraNode node;
        node.path = path;
        node.id = path.substr(path.find_last_not_of("0123456789") + 1);
        node.card = text_of(capability.card, sizeof capability.card);
        if (node.card.empty()) node.card = "Camera " + node.id;
        node.bus = text_of(capability.bus_info, sizeof capability.bus_info);
        node.focusable = focus_range(device).has_value();
        return node;
    } catch (const DeviceError& error) {
        // A camera the user may not open is worth a word; one gone since
        // it was listed is not.
        if (error.error == EACCES || error.error == EPERM) denied.push_back(path + ": " + std::strerror(error.error));
        return std::nullopt;
    }
}
}  // namespace

std::vector<CameraNode> find_camera_nodes(VideoDevices& devices, std::vector<std::string>& denied) {
    std::vector<CameraNode> cameras;
    for (const auto& path : devices.list_nodes()) {
        auto node = camera_at(devices, path, denied);
        if (!node || node->id.empty()) continue;
        bool seen = std::any_of(cameras.begin(), cameras.end(), [&](const CameraNode& other) {
            return !node->bus.empty() && other.bus == node->bus && other.card == node->card;
        });
        if (!seen) cameras.push_back(std::move(*node));
    }
    return cameras;
}

std::vector<std::shared_ptr<Camera>> V4l2Cameras::list() {
    std::vector<std::string> denied;
    std::vector<CameraNode> nodes = find_camera_nodes(*devices_, denied);
    std::lock_guard lock(mutex_);
    denied_ = std::move(denied);
    std::map<std::string, std::shared_ptr<V4l2Camera>> present;
    std::vector<std::shared_ptr<Camera>> cameras;
    for (auto& node : nodes) {
        auto known = known_.find(node.path);
        std::shared_ptr<V4l2Camera> camera;
        // The same camera on the same node keeps its object, and with it a
        // stream still running; anything else there is a new camera.
        if (known != known_.end() && known->second->node().bus == node.bus && known->second->node().card == node.card &&
            known->second->node().focusable == node.focusable) {
            camera = known->second;
        } else {
            camera = std::make_shared<V4l2Camera>(devices_, node, timings_);
        }
        present[node.path] = camera;
        cameras.push_back(camera);
    }
    known_ = std::move(present);
    return cameras;
}

std::string V4l2Cameras::trouble() {
    std::lock_guard lock(mutex_);
    if (denied_.empty()) return {};
    std::string nodes;
    for (const auto& node : denied_) nodes += (nodes.empty() ? "" : ", ") + node;
    return "cannot open " + nodes + " (is this user in the video group?)";
}
