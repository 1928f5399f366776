// vistrel-app: the companion app that vistrel talks to.
#include "app_options.h"
#include "app_state.h"
#include "cameras/simulated_camera.h"
#include "http/server.h"
#include "recording/child_process.h"
#include "screen/screen_capture.h"
#include "sources/config_dir.h"

#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <thread>

namespace {
// Stop signals are blocked in every thread and taken here, so that the server
// is stopped from an ordinary thread rather than from a signal handler. A
// recording in progress is ended first: the server waits for its handlers.
void stop_on_signal(LenientServer& server, sigset_t signals) {
    int received = 0;
    sigwait(&signals, &received);
    stop_all_children();
    server.stop();
}

int hidden_focus_position(const AppOptions& options) {
    if (options.focus_at) return *options.focus_at;
    // Away from the ends of the range, where a subject usually is.
    std::random_device seed;
    return std::uniform_int_distribution<int>(20, 235)(seed);
}
}  // namespace

int main(int argc, char** argv) {
    AppOptions options;
    try {
        options = parse_app_options(std::vector<std::string>(argv + 1, argv + argc), std::getenv("VISTREL_PORT"));
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
    prepare_screen_capture();

    AppState state;
    // A simulated picture is served only to whoever asked for it.
    if (options.simulated_camera) {
        state.cameras.backends.push_back(
            simulated_camera_backend(std::make_shared<SimulatedCamera>(hidden_focus_position(options))));
    }
    state.sources.file = config_folder() / "sources.json";

    LenientServer server;
    configure_server(server, state);
    if (options.port == 0) {
        state.port = server.bind_to_any_port("127.0.0.1");
    } else if (server.bind_to_port("127.0.0.1", options.port)) {
        state.port = options.port;
    }
    if (state.port <= 0) {
        std::fprintf(stderr, "vistrel-app: cannot listen on 127.0.0.1:%d (is vistrel-app already running?)\n",
                     options.port);
        return 1;
    }

    std::printf("vistrel-app %s listening on http://127.0.0.1:%d/api\n", VISTREL_APP_VERSION, state.port);
    std::fflush(stdout);
    std::thread(stop_on_signal, std::ref(server), stop_signals).detach();

    return server.listen_after_bind() ? 0 : 1;
}
