// The in-process WebM writer's cost per frame at 1280x720 and 1920x1080 on
// a busy desktop (test_pictures.h): BGRA to I420, then VP8 and muxing. At
// 25 frames a second a frame has 40 ms. Run under wine by bench-webm.sh.
#include "recording/webm_writer.h"

#include "test_pictures.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <variant>

namespace {
using Clock = std::chrono::steady_clock;

double milliseconds(Clock::duration time) {
    return std::chrono::duration<double, std::milli>(time).count();
}

bool measure(int width, int height, int frames) {
    WebmWriter writer;
    if (auto problem = writer.start(width, height, 25)) {
        std::fprintf(stderr, "%s\n", problem->message.c_str());
        return false;
    }
    Clock::duration converting{}, encoding{};
    I420Frame frame;
    for (int i = 0; i < frames; ++i) {
        BgraPicture picture = busy_desktop_picture(width, height, i);
        auto start = Clock::now();
        fill_i420(picture.rows(), frame);
        auto converted = Clock::now();
        if (auto problem = writer.add_frame(frame)) {
            std::fprintf(stderr, "%s\n", problem->message.c_str());
            return false;
        }
        converting += converted - start;
        encoding += Clock::now() - converted;
    }
    auto start = Clock::now();
    auto finished = writer.finish();
    encoding += Clock::now() - start;
    if (auto* failure = std::get_if<EncodeFailure>(&finished)) {
        std::fprintf(stderr, "%s\n", failure->message.c_str());
        return false;
    }
    double convert_ms = milliseconds(converting) / frames, encode_ms = milliseconds(encoding) / frames;
    std::printf(
        "%dx%d: %.1f ms a frame (BGRA to I420 %.1f, VP8 and muxing %.1f) over %d frames; %zu bytes, %.2f Mbit/s\n",
        width, height, convert_ms + encode_ms, convert_ms, encode_ms, frames, std::get<std::string>(finished).size(),
        std::get<std::string>(finished).size() * 8.0 * 25 / frames / 1e6);
    return true;
}
}  // namespace

int main(int argc, char** argv) {
    int frames = argc > 1 ? std::atoi(argv[1]) : 100;
    if (frames < 1) {
        std::fprintf(stderr, "usage: vistrel_windows_webm_bench [FRAMES]\n");
        return 2;
    }
    bool ok = measure(1280, 720, frames) && measure(1920, 1080, frames);
    return ok ? 0 : 1;
}
