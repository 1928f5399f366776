#pragma once
// The whole app, from its arguments to its exit status, the same on every
// platform. Each platform's entry hands it what differs between systems: an
// AppPlatform (linux_app.h, windows_app.h), made over the system's cameras
// or, in the tests' builds, over fake ones.
#include "app_options.h"
#include "app_state.h"
#include "http/http_server.h"

#include <optional>
#include <string>
#include <vector>

class AppPlatform {
public:
    virtual ~AppPlatform() = default;

    // Called once the options are read, before any thread starts. An exit
    // status when the app must not start.
    virtual std::optional<int> prepare(const AppOptions& options) = 0;

    // The screen, its recorder and the real cameras; and removes what an
    // app that was killed left behind.
    virtual void equip(AppState& state, const AppOptions& options) = 0;

    // Runs the server until the app is told to stop (a signal, the tray's
    // Quit, the end of the session), ending a recording in progress first so
    // that its client hears why; returns once the server has stopped.
    virtual void serve(HttpServer& server, AppState& state) = 0;
};

// args without the program name.
int run_app(const std::vector<std::string>& args, AppPlatform& platform);
