// What a screenshot and a recording cost through the GDI backend, on the
// screen this program runs on (wine under an Xvfb of the size asked for, by
// bench-screen.sh): a window covering the whole screen shows a desktop-like
// picture (test_pictures.h, still); then
// - a screenshot as /frame.jpg makes it: the copy of the screen (with the
//   pointer) and the JPEG straight from it, median and mean of N;
// - the copy alone;
// - a 5 s WebM recording of the whole screen, still and then while the
//   picture moves (a window dragged, a video playing: ten pictures shown in
//   turn, 25 a second): how many frames were really grabbed a second (the
//   rest stood in for by the one before), and how long the recording took
//   to come back.
// A benchmark, never a test.
#include "imaging/jpeg.h"
#include "recording/windows_recorder.h"
#include "screen/dpi_awareness.h"
#include "screen/gdi_screen.h"
#include "test_pictures.h"
#include "test_windows.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {
using Clock = std::chrono::steady_clock;

double milliseconds(Clock::duration time) {
    return std::chrono::duration<double, std::milli>(time).count();
}

// Counts the pictures the recorder takes.
class CountingScreen : public ScreenBackend {
public:
    explicit CountingScreen(ScreenBackend& inner) : inner_(inner) {}
    const char* name() const override { return inner_.name(); }
    ScreenState state() override { return inner_.state(); }
    std::vector<WindowInfo> windows() override { return inner_.windows(); }
    void capture(const ScreenRequest& request, const ScreenShotUse& use) override {
        inner_.capture(request, use);
        ++pictures;
    }
    RecordingInput start_recording(const std::filesystem::path& scratch, int fps) override {
        return inner_.start_recording(scratch, fps);
    }
    std::atomic<int> pictures{0};

private:
    ScreenBackend& inner_;
};

void report(const char* what, std::vector<double> times) {
    std::sort(times.begin(), times.end());
    double sum = 0;
    for (double t : times) sum += t;
    std::printf("%-34s median %7.1f ms  mean %7.1f ms  (%zu)\n", what, times[times.size() / 2], sum / times.size(),
                times.size());
}

std::atomic<bool> moving{false};  // the main thread shows the pictures in turn

void record(ScreenBackend& screen, int secs, const char* what) {
    CountingScreen counting(screen);
    auto recorder = make_windows_recorder(counting);
    auto start = Clock::now();
    Recording recording = recorder->record({RecordingFormat::webm, secs, 0}, [] { return false; });
    double took = milliseconds(Clock::now() - start) / 1000;
    // The first picture gives the size and is the first frame too.
    std::printf("recording of %d s, %s: %d frames grabbed, %.1f a second (of 25), back after %.2f s, %zu bytes\n", secs,
                what, counting.pictures.load(), counting.pictures.load() / static_cast<double>(secs), took,
                recording.bytes.size());
}

void run(ScreenBackend& screen, int shots, int record_secs) {
    ScreenState state = screen.state();
    if (!state.screen) {
        std::printf("no screen: %s\n", state.problem.c_str());
        return;
    }
    std::printf("%s, dpi awareness %s\n", state.screen->display.c_str(), dpi_awareness_name(make_process_dpi_aware()));
    ScreenRequest whole{ScreenTarget{}, std::nullopt, "screen"};
    std::vector<double> screenshots, copies;
    std::size_t bytes = 0;
    for (int i = 0; i < shots; ++i) {
        auto start = Clock::now();
        screen.capture(whole, [&](const ScreenShot& shot) { bytes = encode_jpeg(shot.pixels).size(); });
        screenshots.push_back(milliseconds(Clock::now() - start));
        start = Clock::now();
        screen.capture(whole, [](const ScreenShot&) {});
        copies.push_back(milliseconds(Clock::now() - start));
    }
    report("screenshot (copy + JPEG q90)", screenshots);
    report("copy of the screen alone", copies);
    std::printf("JPEG of the screen: %zu bytes\n", bytes);
    record(screen, record_secs, "still");
    moving = true;
    record(screen, record_secs, "moving");
    moving = false;
}
}  // namespace

int main(int argc, char** argv) {
    int shots = argc > 1 ? std::atoi(argv[1]) : 30;
    int record_secs = argc > 2 ? std::atoi(argv[2]) : 5;
    make_process_dpi_aware();
    int width = GetSystemMetrics(SM_CXVIRTUALSCREEN), height = GetSystemMetrics(SM_CYVIRTUALSCREEN);
    std::vector<BgraPicture> pictures;
    for (int i = 0; i < 10; ++i) pictures.push_back(busy_desktop_picture(width, height, i * 3));
    std::size_t shown = 0;
    TestWindow backdrop({L"desktop", 0, 0, width, height, WS_POPUP | WS_VISIBLE, 0, [&](HDC dc, int w, int h) {
                             const BgraPicture& desktop = pictures[shown];
                             BITMAPINFO info{};
                             info.bmiHeader.biSize = sizeof info.bmiHeader;
                             info.bmiHeader.biWidth = desktop.width;
                             info.bmiHeader.biHeight = -desktop.height;
                             info.bmiHeader.biPlanes = 1;
                             info.bmiHeader.biBitCount = 32;
                             info.bmiHeader.biCompression = BI_RGB;
                             SetDIBitsToDevice(dc, 0, 0, std::min(w, desktop.width), std::min(h, desktop.height), 0, 0,
                                               0, desktop.height, desktop.bytes.data(), &info, DIB_RGB_COLORS);
                         }});
    pump_messages(std::chrono::seconds(2));
    auto screen = make_gdi_screen();
    std::atomic<bool> done{false};
    std::thread bench([&] {
        run(*screen, shots, record_secs);
        done = true;
    });
    while (!done) {
        if (moving) {
            shown = (shown + 1) % pictures.size();
            backdrop.repaint();
        }
        pump_messages(std::chrono::milliseconds(40));
    }
    bench.join();
    return 0;
}
