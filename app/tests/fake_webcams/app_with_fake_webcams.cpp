// vistrel-app.exe as the tests run it under wine: the same app, with the
// fake webcams (fake_capture_devices.h) where Media Foundation's would be,
// so that the tests never depend on the cameras of the machine they run on.
// Built only with the tests; the shipped vistrel-app.exe cannot serve a fake
// camera.
//
// Test-only options, taken before the app reads its own:
//   --fake-webcams FILE   the fake set, one camera a line as on Linux
//                         (fake_video_devices.h), read again whenever it
//                         changes so that a test plugs cameras in and out; a
//                         missing or empty file means no camera
//   --frame-timeout-ms N, --warm-up-frames N, --keep-streaming-ms N
//                         the cameras' limits (see CameraTimings)
#include "cameras/frame_work.h"
#include "cameras/streaming_camera.h"
#include "fake_camera_options.h"
#include "fake_capture_devices.h"
#include "windows_app.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

namespace {
std::string read_set(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The fake set, plugged anew whenever its file says something else.
class FileFedDevices final : public CaptureDevices {
public:
    explicit FileFedDevices(std::string file) : file_(std::move(file)), set_(read_set(file_)), devices_(set_) {}

    CaptureDeviceList list() override {
        refresh();
        return devices_.list();
    }
    std::optional<std::uint64_t> changes() override {
        refresh();
        return devices_.changes();
    }
    std::unique_ptr<CaptureDevice> open(const CaptureDeviceInfo& device) override { return devices_.open(device); }
    std::string access_advice() const override { return devices_.access_advice(); }
    std::string kind() const override { return devices_.kind(); }

private:
    void refresh() {
        std::lock_guard lock(mutex_);
        std::string now = read_set(file_);
        if (now == set_) return;
        set_ = now;
        devices_.plug(set_);
    }

    std::string file_;
    std::mutex mutex_;
    std::string set_;
    FakeCaptureDevices devices_;
};
}  // namespace

int main() {
    use_parent_console();
    FakeCameraOptions options = take_fake_camera_options(utf8_arguments(), "--fake-webcams");
    auto platform = windows_app(
        [set_file = options.set_file, timings = options.timings](const AppOptions&) -> std::unique_ptr<CameraBackend> {
            if (set_file.empty()) return nullptr;
            return std::make_unique<StreamingCameras>(std::make_shared<FileFedDevices>(set_file), timings,
                                                      jpeg_frame_work());
        });
    return run_app(options.app_args, *platform);
}
