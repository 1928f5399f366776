#include "app_options.h"

#ifdef _WIN32
const char* const app_usage_text =
    "usage: vistrel-app [--port N] [--console]\n"
    "                   [--simulated-camera [--focus-at N]]\n"
    "\n"
    "The companion app of vistrel: serves the cameras, the screen, recordings and\n"
    "network cameras on http://127.0.0.1:PORT/api. It lives in the notification\n"
    "area, and writes its log to %LOCALAPPDATA%\\vistrel\\vistrel-app.log.\n"
    "\n"
    "  --port N       port to listen on (default: VISTREL_PORT, else 7777;\n"
    "                 0 picks a free port); the first line printed names it\n"
    "  --console      run in this console window, its log printed here, until\n"
    "                 Ctrl+C, instead of in the notification area\n"
    "  --simulated-camera\n"
    "                 also serve a simulated camera, device \"sim\", that films\n"
    "                 a test chart: for trying vistrel without a webcam;\n"
    "                 without it only real cameras are served\n"
    "  --focus-at N   put the simulated lens's sharp position at N (0..255)\n"
    "                 instead of a random one\n"
    "  --help         this text\n"
    "  --version      the version\n";
#else
const char* const app_usage_text =
    "usage: vistrel-app [--port N] [--screen auto|x11|wlroots|portal]\n"
    "                   [--simulated-camera [--focus-at N]]\n"
    "\n"
    "The companion app of vistrel: serves the cameras, the screen, recordings and\n"
    "network cameras on http://127.0.0.1:PORT/api.\n"
    "\n"
    "  --port N       port to listen on (default: VISTREL_PORT, else 7777;\n"
    "                 0 picks a free port); the first line printed names it\n"
    "  --screen NAME  how to capture the screen: x11 (the X display), wlroots\n"
    "                 (wlr-screencopy: sway, Hyprland, river), portal\n"
    "                 (xdg-desktop-portal: GNOME, KDE, any desktop), or auto\n"
    "                 (the default: chosen from the session)\n"
    "  --simulated-camera\n"
    "                 also serve a simulated camera, device \"sim\", that films\n"
    "                 a test chart: for trying vistrel without a webcam;\n"
    "                 without it only real cameras are served\n"
    "  --focus-at N   put the simulated lens's sharp position at N (0..255)\n"
    "                 instead of a random one\n"
    "  --help         this text\n"
    "  --version      the version\n";
#endif

namespace {
int parse_number(const std::string& what, const std::string& text, int min, int max) {
    bool digits = !text.empty() && text.size() <= 6 && text.find_first_not_of("0123456789") == std::string::npos;
    int value = digits ? std::stoi(text) : -1;
    if (!digits || value < min || value > max) {
        throw OptionError(what + " must be a whole number from " + std::to_string(min) + " to " + std::to_string(max) +
                          " (got \"" + text + "\")");
    }
    return value;
}
}  // namespace

AppOptions parse_app_options(const std::vector<std::string>& args, const char* env_port) {
    AppOptions options;
    std::optional<std::string> port_text;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        auto value_of = [&](const std::string& name) -> std::optional<std::string> {
            if (arg == name) {
                if (i + 1 >= args.size()) throw OptionError(name + " needs a value");
                return args[++i];
            }
            if (arg.rfind(name + "=", 0) == 0) return arg.substr(name.size() + 1);
            return std::nullopt;
        };
        if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--version") {
            options.version = true;
        } else if (arg == "--simulated-camera") {
            options.simulated_camera = true;
        } else if (auto port = value_of("--port")) {
            port_text = *port;
        } else if (auto head = value_of("--head-deadline-ms")) {
            options.head_deadline_ms = parse_number("--head-deadline-ms", *head, 1, 600000);
        } else if (auto fetch = value_of("--fetch-deadline-ms")) {
            options.fetch_deadline_ms = parse_number("--fetch-deadline-ms", *fetch, 1, 600000);
        } else if (auto lock = value_of("--sources-lock-ms")) {
            options.sources_lock_ms = parse_number("--sources-lock-ms", *lock, 1, 600000);
        } else if (auto folder = value_of("--config-folder")) {
            if (folder->empty()) throw OptionError("--config-folder needs a folder");
            options.config_folder = *folder;
#ifdef _WIN32
        } else if (arg == "--console") {
            options.console = true;
#else
        } else if (auto screen = value_of("--screen")) {
            auto wanted = parse_screen_wanted(*screen);
            if (!wanted) throw OptionError("--screen must be auto, x11, wlroots or portal (got \"" + *screen + "\")");
            options.screen = *wanted;
#endif
        } else if (auto focus = value_of("--focus-at")) {
            options.focus_at = parse_number("--focus-at", *focus, 0, 255);
        } else {
            throw OptionError("unknown option " + arg);
        }
    }
    if (port_text) {
        options.port = parse_number("--port", *port_text, 0, 65535);
    } else if (env_port) {
        options.port = parse_number("VISTREL_PORT", env_port, 0, 65535);
    }
    return options;
}
