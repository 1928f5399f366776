#include "cameras/camera_registry.h"

std::vector<std::shared_ptr<Camera>> list_cameras(CameraRegistry& registry) {
    std::vector<std::shared_ptr<Camera>> cameras;
    for (auto& backend : registry.backends) {
        for (auto& camera : backend->list()) cameras.push_back(std::move(camera));
    }
    return cameras;
}

std::shared_ptr<Camera> find_camera(CameraRegistry& registry, std::string_view id) {
    for (auto& camera : list_cameras(registry)) {
        if (camera->description().id == id) return camera;
    }
    return nullptr;
}

std::string camera_trouble(CameraRegistry& registry) {
    std::string trouble;
    for (auto& backend : registry.backends) {
        std::string more = backend->trouble();
        if (!more.empty()) trouble += (trouble.empty() ? "" : "; ") + more;
    }
    return trouble;
}

std::string no_camera_text(CameraRegistry& registry) {
    std::string trouble = camera_trouble(registry);
    for (const auto& camera : list_cameras(registry)) {
        CameraDescription about = camera->description();
        if (about.colour) continue;
        trouble += (trouble.empty() ? "" : "; ") + ("camera " + about.id + " (" + about.name +
                                                    ") sees only in greyscale or infrared; ask for it by name with "
                                                    "--device " +
                                                    about.id);
    }
    return "no camera found: plug in a webcam (any UVC webcam works), or start vistrel-app with --simulated-camera "
           "for a test picture" +
           (trouble.empty() ? "" : " (" + trouble + ")");
}

std::shared_ptr<Camera> default_camera(CameraRegistry& registry) {
    for (auto& backend : registry.backends) {
        for (auto& camera : backend->list()) {
            if (camera->description().colour) return camera;
        }
    }
    return nullptr;
}
