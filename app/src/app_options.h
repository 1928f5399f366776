#pragma once
// The app's command line.
#include "screen/screen_choice.h"

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

inline constexpr int default_app_port = 7777;

struct AppOptions {
    int port = default_app_port;                    // 0: any free port
    std::optional<int> focus_at;                    // the simulated lens's sharp position; random when absent
    bool simulated_camera = false;                  // serve the simulated camera as well
    ScreenWanted screen = ScreenWanted::automatic;  // --screen
    bool console = false;                           // Windows: run in a console window instead of the notification area
    bool help = false;
    bool version = false;
    // For tests, and left out of the usage text: shorter limits than the real
    // ones (5 s for a request head, 10 s for a network camera, 5 s for the
    // sources lock), so that a test does not have to wait them out.
    std::optional<int> head_deadline_ms;   // --head-deadline-ms N
    std::optional<int> fetch_deadline_ms;  // --fetch-deadline-ms N
    std::optional<int> sources_lock_ms;    // --sources-lock-ms N
    // The folder of sources.json (and Windows' cameras.json) instead of the
    // user's, so that a test leaves the user's configuration alone.
    std::optional<std::string> config_folder;  // --config-folder DIR
};

struct OptionError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// args without the program name; env_port is VISTREL_PORT or null.
// The port comes from --port, then VISTREL_PORT, then 7777.
AppOptions parse_app_options(const std::vector<std::string>& args, const char* env_port);

extern const char* const app_usage_text;
