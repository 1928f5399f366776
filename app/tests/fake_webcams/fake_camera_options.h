#pragma once
// The options of the app's test builds over fake webcams, taken out of the
// arguments before the app reads its own: `set_option FILE` (the fake set)
// and the cameras' limits (--frame-timeout-ms N, --warm-up-frames N,
// --keep-streaming-ms N; see CameraTimings). A missing value ends the
// program with status 2.
#include "cameras/streaming_camera.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

struct FakeCameraOptions {
    std::string set_file;
    CameraTimings timings;
    std::vector<std::string> app_args;  // the rest, for the app
};

inline FakeCameraOptions take_fake_camera_options(const std::vector<std::string>& given,
                                                  const std::string& set_option) {
    FakeCameraOptions options;
    for (std::size_t i = 0; i < given.size(); ++i) {
        const std::string& arg = given[i];
        auto value = [&] {
            if (i + 1 >= given.size()) {
                std::fprintf(stderr, "%s needs a value\n", arg.c_str());
                std::exit(2);
            }
            return given[++i];
        };
        if (arg == set_option) {
            options.set_file = value();
        } else if (arg == "--frame-timeout-ms") {
            options.timings.frame_timeout = std::chrono::milliseconds(std::stoi(value()));
        } else if (arg == "--warm-up-frames") {
            options.timings.warm_up_frames = std::stoi(value());
        } else if (arg == "--keep-streaming-ms") {
            options.timings.keep_streaming = std::chrono::milliseconds(std::stoi(value()));
        } else {
            options.app_args.push_back(arg);
        }
    }
    return options;
}
