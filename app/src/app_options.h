#pragma once
// The app's command line.
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

inline constexpr int default_app_port = 7777;

struct AppOptions {
    int port = default_app_port;    // 0: any free port
    std::optional<int> focus_at;    // the simulated lens's sharp position; random when absent
    bool simulated_camera = false;  // serve the simulated camera as well
    bool help = false;
    bool version = false;
};

struct OptionError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// args without the program name; env_port is VISTREL_PORT or null.
// The port comes from --port, then VISTREL_PORT, then 7777.
AppOptions parse_app_options(const std::vector<std::string>& args, const char* env_port);

extern const char* const app_usage_text;
