#include "linux_app.h"

#include "cameras/v4l2/v4l2_cameras.h"
#include "platform/descriptors.h"
#include "process/child_process.h"
#include "recording/recorder.h"
#include "recording/scratch_folder.h"
#include "screen/screen_capture.h"

#include <signal.h>

#include <filesystem>
#include <optional>
#include <thread>

namespace {
class LinuxApp final : public AppPlatform {
public:
    explicit LinuxApp(CameraPlumbing plumbing) : plumbing_(std::move(plumbing)) {}

    std::optional<int> prepare(const AppOptions&) override {
        // Stop signals are blocked in every thread and taken by one thread
        // of their own, so that the server is stopped from an ordinary
        // thread rather than from a signal handler.
        sigemptyset(&stop_signals_);
        sigaddset(&stop_signals_, SIGINT);
        sigaddset(&stop_signals_, SIGTERM);
        sigaddset(&stop_signals_, SIGHUP);
        pthread_sigmask(SIG_BLOCK, &stop_signals_, nullptr);
        signal(SIGPIPE, SIG_IGN);
        // Connections and the work share the descriptors; the server keeps
        // some for the work (ServerLimits::descriptor_reserve).
        raise_descriptor_limit();
        // The app's children end with it, however it ends: see child_process.h.
        children_.emplace("/proc/self/exe");
        return std::nullopt;
    }

    void equip(AppState& state, const AppOptions& options) override {
        state.screen = choose_screen_backend(session_from_environment(), options.screen);
        state.recorder = make_ffmpeg_recorder(*state.screen, *children_);
        state.cameras.backends.push_back(std::make_unique<V4l2Cameras>(plumbing_.video_devices, plumbing_.timings));
        // Scratch folders of recordings whose app was killed.
        std::error_code error;
        auto temp = std::filesystem::temp_directory_path(error);
        if (!error) remove_abandoned_scratch(temp);
    }

    void serve(HttpServer& server, AppState&) override {
        // Joined before the server goes: the signal's thread may still be
        // inside stop() when run() returns.
        std::thread stopper([this, &server] {
            int received = 0;
            sigwait(&stop_signals_, &received);
            // A recording in progress is ended first, so that its client
            // hears why.
            children_->stop_all();
            server.stop();
        });
        server.run();
        stopper.join();
    }

private:
    CameraPlumbing plumbing_;
    sigset_t stop_signals_{};
    std::optional<ChildSpawner> children_;
};
}  // namespace

std::unique_ptr<AppPlatform> linux_app(CameraPlumbing plumbing) {
    return std::make_unique<LinuxApp>(std::move(plumbing));
}
