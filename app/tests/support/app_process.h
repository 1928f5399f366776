#pragma once
// The real vistrel-app, started for one test.
#include <sys/types.h>

#include <string>
#include <vector>

struct AppProcess {
    pid_t pid = -1;
    int port = 0;
    std::string log_path;  // its standard error
};

// The app as the tests run it: vistrel-app over a fake set of video devices
// (tests/fake_v4l2), so that no test depends on the machine's cameras.
inline const char* const app_with_fake_cameras = VISTREL_APP_WITH_FAKE_CAMERAS;
// The shipped vistrel-app, for the few tests of the binary itself.
inline const char* const shipped_app = VISTREL_APP_BINARY;

// Starts `binary` with `args` (--port 0 is added: the app picks a free port
// and names it on its first line of output), through `launcher` when given
// (a command that ends by running its arguments). Throws when it does not
// start.
AppProcess start_app(const std::vector<std::string>& args, const std::vector<std::string>& env,
                     const std::string& log_path, const std::string& binary = app_with_fake_cameras,
                     const std::vector<std::string>& launcher = {});

// Stops it with SIGTERM and returns its exit status (-1 if it had to be killed).
int stop_app(AppProcess& app);
