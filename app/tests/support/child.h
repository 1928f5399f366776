#pragma once
// Running programs from the tests: the client, the app, Xvfb and ffprobe.
#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

struct RunResult {
    int exit_status = -1;  // -1 when killed
    std::string out;
    std::string err;
    std::chrono::milliseconds took{0};
};

// The test's own environment without anything that would point a program at
// the developer's display, config or app, plus `extra` ("NAME=value").
std::vector<std::string> clean_environment(const std::vector<std::string>& extra);

// Runs to completion in `cwd`, capturing both outputs; killed after `limit`.
RunResult run_program(const std::vector<std::string>& argv, const std::string& cwd, const std::vector<std::string>& env,
                      std::chrono::seconds limit = std::chrono::seconds(60));

// Starts in the background. stdout goes to `stdout_fd` (or /dev/null when -1),
// stderr to the file `stderr_path`; `fd3`, when not -1, becomes the child's
// descriptor 3.
pid_t spawn_program(const std::vector<std::string>& argv, const std::vector<std::string>& env, int stdout_fd,
                    const std::string& stderr_path, int fd3 = -1);

// SIGTERM, then SIGKILL if it has not ended within `grace`; reaps it.
// Returns the exit status, or -1 when it had to be killed or was signalled.
int stop_program(pid_t pid, std::chrono::milliseconds grace = std::chrono::milliseconds(3000));

// SIGKILL, and reaps it.
void kill_program(pid_t pid);

// Reads from `fd` up to and including the first line feed, waiting at most
// `limit` in all; what arrived so far when time runs out or the pipe closes.
std::string read_first_line(int fd, std::chrono::seconds limit);

std::string make_temp_folder(const std::string& prefix);
void remove_folder(const std::string& path);
std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& bytes);
