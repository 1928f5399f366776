#include "recording/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <set>
#include <thread>

extern char** environ;

namespace {
std::mutex children_mutex;
std::set<pid_t> running_children;
bool shutting_down = false;  // guarded by children_mutex

struct SpawnSetup {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    SpawnSetup() {
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attributes);
    }
    ~SpawnSetup() {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;
};

// Waits for the child until the deadline; true when it has ended.
bool wait_until(pid_t pid, int& status, std::chrono::steady_clock::time_point deadline) {
    for (;;) {
        pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) return true;
        if (done < 0 && errno != EINTR) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}
}  // namespace

ChildOutcome run_child(const std::vector<std::string>& argv, const std::string& stderr_path,
                       std::chrono::milliseconds limit) {
    ChildOutcome outcome;
    SpawnSetup setup;
    posix_spawn_file_actions_addopen(&setup.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&setup.actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&setup.actions, STDERR_FILENO, stderr_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                     0600);
    // The app blocks its stop signals in every thread and ignores SIGPIPE; the
    // child must start with neither.
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGPIPE);
    sigaddset(&defaults, SIGINT);
    sigaddset(&defaults, SIGTERM);
    posix_spawnattr_setsigmask(&setup.attributes, &none);
    posix_spawnattr_setsigdefault(&setup.attributes, &defaults);
    posix_spawnattr_setflags(&setup.attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);

    pid_t pid = 0;
    int rc = posix_spawnp(&pid, args[0], &setup.actions, &setup.attributes, args.data(), environ);
    if (rc != 0) {
        outcome.start_error = std::strerror(rc);
        return outcome;
    }
    outcome.started = true;
    {
        std::lock_guard lock(children_mutex);
        running_children.insert(pid);
    }

    int status = 0;
    auto deadline = std::chrono::steady_clock::now() + limit;
    if (!wait_until(pid, status, deadline)) {
        outcome.timed_out = true;
        kill(pid, SIGTERM);
        if (!wait_until(pid, status, std::chrono::steady_clock::now() + std::chrono::seconds(3))) {
            kill(pid, SIGKILL);
            while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
        }
    }
    {
        std::lock_guard lock(children_mutex);
        running_children.erase(pid);
        outcome.interrupted = shutting_down;
    }
    outcome.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return outcome;
}

void stop_all_children() {
    std::lock_guard lock(children_mutex);
    shutting_down = true;
    for (pid_t pid : running_children) kill(pid, SIGTERM);
}
