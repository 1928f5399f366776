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

// Starts vistrel-app with `args` (--port 0 is added: the app picks a free port
// and names it on its first line of output). Throws when it does not start.
AppProcess start_app(const std::vector<std::string>& args, const std::vector<std::string>& env,
                     const std::string& log_path);

// Stops it with SIGTERM and returns its exit status (-1 if it had to be killed).
int stop_app(AppProcess& app);
