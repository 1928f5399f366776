#pragma once
// Running other programs (ffmpeg, and any other recorder) from an argument
// vector, never through a shell, so that nothing in a request can become a
// command. One spawner for the whole app:
// - a child gets /dev/null as input and output, its error output in a file,
//   no other descriptor of the app, default signal handling, and a process
//   group of its own (so that stopping it stops whatever it started);
// - children are started from one thread that lives as long as the app,
//   through the app's own exec helper mode, which asks the kernel to kill the
//   child when that thread ends: when the app ends, however it ends, its
//   children end too;
// - once the app is stopping no child is started;
// - a child leaves the list of running children only once it has been
//   reaped, under the same lock as every signal sent to it, so that a signal
//   never reaches a process that took over a reaped child's pid.
#include "cancellation.h"

#include <chrono>
#include <memory>
#include <string>
#include <vector>

struct ChildOutcome {
    bool started = false;
    std::string start_error;       // why it could not start, when !started
    bool timed_out = false;        // stopped after the time limit
    bool cancelled = false;        // stopped because the cancel check said so
    bool interrupted = false;      // stopped because the app is stopping
    bool asked_to_finish = false;  // asked to finish early (SIGINT), see run()
    int exit_status = -1;          // the exit status, or -1 when ended by a signal
};

// The flag that starts the app in its exec helper mode.
inline constexpr const char* exec_child_flag = "--exec-child";

// The exec helper mode: argv is {launcher, exec_child_flag, parent pid,
// program, arguments...}. Sets the parent-death signal, makes sure the
// parent is still there, and becomes the program. Returns only on failure,
// with the exit status to end with.
int exec_child_main(int argc, char** argv);

class ChildSpawner {
public:
    // Children are started through `launcher` (the app's own binary,
    // "/proc/self/exe") in its exec helper mode, from a thread that lives as
    // long as this object. With no launcher they are started directly, and
    // outlive an app that is killed.
    explicit ChildSpawner(std::string launcher = {});
    // Ends every child still running (stop_all), then the spawning thread.
    ~ChildSpawner();
    ChildSpawner(const ChildSpawner&) = delete;
    ChildSpawner& operator=(const ChildSpawner&) = delete;

    // Runs argv[0] (looked up in PATH) with stdin and stdout on /dev/null and
    // stderr into `stderr_path`, and waits for it. Stops it (SIGTERM to its
    // group, then SIGKILL) when `limit` has passed or `cancelled` says so.
    // When `finish_early` turns true the child is asked to finish what it is
    // doing (SIGINT to its group, which ffmpeg takes as "close the file
    // now") and then waited for, at most 10 s more.
    ChildOutcome run(const std::vector<std::string>& argv, const std::string& stderr_path,
                     std::chrono::milliseconds limit, const CancelCheck& cancelled = {},
                     const CancelCheck& finish_early = {});

    // Ends every child still running and starts no more: the app is stopping.
    void stop_all();

private:
    struct State;
    std::unique_ptr<State> state_;
};
