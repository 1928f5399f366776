#pragma once
// Running another program (ffmpeg) from an argument vector, never through a
// shell, so that nothing in a request can become a command.
#include <chrono>
#include <string>
#include <vector>

struct ChildOutcome {
    bool started = false;
    std::string start_error;   // why it could not start, when !started
    bool timed_out = false;    // killed after the time limit
    bool interrupted = false;  // stopped because the app is shutting down
    int exit_status = -1;      // the exit status, or -1 when killed by a signal
};

// Runs argv[0] (looked up in PATH) with stdin and stdout on /dev/null and
// stderr into `stderr_path`, waits at most `limit`, then stops it.
ChildOutcome run_child(const std::vector<std::string>& argv, const std::string& stderr_path,
                       std::chrono::milliseconds limit);

// Ends every child still running: used when the app shuts down.
void stop_all_children();
