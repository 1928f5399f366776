#include "app_main.h"

#include "app_options.h"
#include "app_state.h"
#include "cameras/simulated_camera.h"
#include "cameras/v4l2/v4l2_cameras.h"
#include "endpoints/routes.h"
#include "http/http_server.h"
#include "platform/descriptors.h"
#include "platform/files.h"
#include "process/child_process.h"
#include "recording/recorder.h"
#include "recording/scratch_folder.h"
#include "screen/screen_capture.h"

#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <random>
#include <thread>

namespace {
// Stop signals are blocked in every thread and taken here, so that the server
// is stopped from an ordinary thread rather than from a signal handler. A
// recording in progress is ended first, so that its client hears why.
void stop_on_signal(HttpServer& server, ChildSpawner& children, sigset_t signals) {
    int received = 0;
    sigwait(&signals, &received);
    children.stop_all();
    server.stop();
}

// Which backend serves the screen, and what it shows or why it cannot.
void log_screen(ScreenBackend& backend_used) {
    const char* backend = backend_used.name();
    ScreenState now = backend_used.state();
    if (now.screen) {
        std::fprintf(stderr, "vistrel-app: screen: %s, %s\n", backend, now.screen->display.c_str());
    } else {
        std::fprintf(stderr, "vistrel-app: screen: %s, not available: %s\n", backend ? backend : "none",
                     now.problem.c_str());
    }
}

int hidden_focus_position(const AppOptions& options) {
    if (options.focus_at) return *options.focus_at;
    // Away from the ends of the range, where a subject usually is.
    std::random_device seed;
    return std::uniform_int_distribution<int>(20, 235)(seed);
}

// What an app that was killed left behind: recordings' scratch folders and
// half-written sources files. Only what belongs to apps that are gone.
void remove_leftovers(const std::filesystem::path& sources_file) {
    std::error_code error;
    auto temp = std::filesystem::temp_directory_path(error);
    if (!error) remove_abandoned_scratch(temp);
    try {
        remove_leftover_temp_files(sources_file);
    } catch (const SourcesFileError& e) {
        std::fprintf(stderr, "vistrel-app: %s\n", e.what());
    }
}
}  // namespace

int run_app(const std::vector<std::string>& args, const CameraPlumbing& plumbing) {
    AppOptions options;
    try {
        options = parse_app_options(args, std::getenv("VISTREL_PORT"));
    } catch (const OptionError& e) {
        std::fprintf(stderr, "vistrel-app: %s\n\n%s", e.what(), app_usage_text);
        return 2;
    }
    if (options.help) {
        std::fputs(app_usage_text, stdout);
        return 0;
    }
    if (options.version) {
        std::printf("vistrel-app %s\n", VISTREL_APP_VERSION);
        return 0;
    }

    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    sigaddset(&stop_signals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
    signal(SIGPIPE, SIG_IGN);
    // Connections and the work share the descriptors; the server keeps some
    // for the work (ServerLimits::descriptor_reserve).
    raise_descriptor_limit();
    // The app's children end with it, however it ends: see child_process.h.
    ChildSpawner children("/proc/self/exe");
    AppState state;
    state.screen = choose_screen_backend(session_from_environment(), options.screen);
    state.recorder = make_ffmpeg_recorder(*state.screen, children);
    // Real cameras first: the default camera is a real one whenever there
    // is one. A simulated picture is served only to whoever asked for it.
    state.cameras.backends.push_back(std::make_unique<V4l2Cameras>(plumbing.video_devices, plumbing.timings));
    if (options.simulated_camera) {
        state.cameras.backends.push_back(
            simulated_camera_backend(std::make_shared<SimulatedCamera>(hidden_focus_position(options))));
    }
    state.sources.file = config_folder() / "sources.json";
    if (options.fetch_deadline_ms)
        state.net_fetch.limits.total_time = std::chrono::milliseconds(*options.fetch_deadline_ms);
    if (options.sources_lock_ms) state.sources.lock_wait = std::chrono::milliseconds(*options.sources_lock_ms);
    remove_leftovers(state.sources.file);

    ServerLimits limits;
    if (options.head_deadline_ms) limits.head_time = std::chrono::milliseconds(*options.head_deadline_ms);
    HttpServer server(app_server_settings(state, limits));
    std::string error;
    state.port = server.listen_on(options.port, error);
    if (state.port <= 0) {
        std::fprintf(stderr, "vistrel-app: cannot listen on 127.0.0.1:%d: %s (is vistrel-app already running?)\n",
                     options.port, error.c_str());
        return 1;
    }
    state.net_fetch.app_port = state.port;

    std::printf("vistrel-app %s listening on http://127.0.0.1:%d/api\n", VISTREL_APP_VERSION, state.port);
    std::fflush(stdout);
    log_screen(*state.screen);
    // Joined before the server goes: the signal's thread may still be
    // inside stop() when run() returns.
    std::thread stopper(stop_on_signal, std::ref(server), std::ref(children), stop_signals);

    server.run();
    stopper.join();
    return 0;
}
