// vistrel-app.exe: the companion app on Windows, its webcams through Media
// Foundation.
#include "cameras/frame_work.h"
#include "cameras/media_foundation/mf_capture_devices.h"
#include "windows_app.h"

#include <filesystem>

int main() {
    use_parent_console();
    auto platform = windows_app([](const AppOptions& options) -> std::unique_ptr<CameraBackend> {
        if (!options.config_folder) return media_foundation_cameras(CameraTimings{});
        // The webcams' ids kept beside the sources the option names.
        auto devices =
            std::make_shared<MfCaptureDevices>(std::filesystem::path(*options.config_folder) / "cameras.json");
        return std::make_unique<StreamingCameras>(devices, CameraTimings{}, jpeg_frame_work());
    });
    return run_app(utf8_arguments(), *platform);
}
