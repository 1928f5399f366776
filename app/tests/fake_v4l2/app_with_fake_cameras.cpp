// vistrel-app as the tests run it: the same app, with its Video4Linux2
// cameras on a fake device set instead of the system's /dev, so that the
// tests never depend on the cameras of the machine they run on. Built only
// with the tests; the shipped vistrel-app cannot serve a fake camera.
//
// Test-only options, taken before the app reads its own:
//   --fake-video-devices FILE   the fake device set (see fake_video_devices.h);
//                               a missing or empty file means no camera
//   --frame-timeout-ms N, --warm-up-frames N, --keep-streaming-ms N
//                               the cameras' limits (see CameraTimings)
#include "fake_camera_options.h"
#include "fake_video_devices.h"
#include "linux_app.h"
#include "process/child_process.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    // The app starts its children through its own binary: this one.
    if (argc > 1 && std::strcmp(argv[1], exec_child_flag) == 0) return exec_child_main(argc, argv);
    FakeCameraOptions options =
        take_fake_camera_options(std::vector<std::string>(argv + 1, argv + argc), "--fake-video-devices");
    if (options.set_file.empty()) options.set_file = "/nonexistent/vistrel-fake-video-devices";
    auto platform = linux_app({std::make_shared<FakeVideoDevices>(options.set_file), options.timings});
    return run_app(options.app_args, *platform);
}
