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
    std::vector<std::string> args;
    std::string set_file = "/nonexistent/vistrel-fake-video-devices";
    CameraTimings timings;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        auto value = [&] {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "%s needs a value\n", arg.c_str());
                std::exit(2);
            }
            return std::string(argv[++i]);
        };
        if (arg == "--fake-video-devices") {
            set_file = value();
        } else if (arg == "--frame-timeout-ms") {
            timings.frame_timeout = std::chrono::milliseconds(std::stoi(value()));
        } else if (arg == "--warm-up-frames") {
            timings.warm_up_frames = std::stoi(value());
        } else if (arg == "--keep-streaming-ms") {
            timings.keep_streaming = std::chrono::milliseconds(std::stoi(value()));
        } else {
            args.push_back(arg);
        }
    }
    auto platform = linux_app({std::make_shared<FakeVideoDevices>(set_file), timings});
    return run_app(args, *platform);
}
