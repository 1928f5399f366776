#include "app_main.h"

#include "cameras/simulated_camera.h"
#include "endpoints/routes.h"
#include "platform/files.h"

#include <cstdio>
#include <cstdlib>
#include <random>

namespace {
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
}  // namespace

int run_app(const std::vector<std::string>& args, AppPlatform& platform) {
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
    if (auto refused = platform.prepare(options)) return *refused;

    AppState state;
    state.sources.file =
        (options.config_folder ? std::filesystem::path(*options.config_folder) : config_folder()) / "sources.json";
    try {
        remove_leftover_temp_files(state.sources.file);
    } catch (const SourcesFileError& e) {
        std::fprintf(stderr, "vistrel-app: %s\n", e.what());
    }
    // Real cameras first: the default camera is a real one whenever there
    // is one. A simulated picture is served only to whoever asked for it.
    platform.equip(state, options);
    if (options.simulated_camera) {
        state.cameras.backends.push_back(
            simulated_camera_backend(std::make_shared<SimulatedCamera>(hidden_focus_position(options))));
    }
    if (options.fetch_deadline_ms)
        state.net_fetch.limits.total_time = std::chrono::milliseconds(*options.fetch_deadline_ms);
    if (options.sources_lock_ms) state.sources.lock_wait = std::chrono::milliseconds(*options.sources_lock_ms);

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
    platform.serve(server, state);
    return 0;
}
