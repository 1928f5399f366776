#include "process/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <future>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

extern char** environ;

namespace {
using Clock = std::chrono::steady_clock;

struct SpawnResult {
    pid_t pid = -1;
    std::string error;
};

struct SpawnRequest {
    std::vector<std::string> argv;  // argv[0] already a path
    std::string stderr_path;
    std::promise<SpawnResult> result;
};

// A failed set-up call, as the start error names it.
std::string failed(const char* call, int rc) {
    return std::string(call) + ": " + std::strerror(rc);
}

struct SpawnSetup {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    int init_error = 0;
    SpawnSetup() {
        init_error = posix_spawn_file_actions_init(&actions);
        if (init_error == 0 && (init_error = posix_spawnattr_init(&attributes)) != 0) {
            posix_spawn_file_actions_destroy(&actions);
        }
    }
    ~SpawnSetup() {
        if (init_error == 0) {
            posix_spawn_file_actions_destroy(&actions);
            posix_spawnattr_destroy(&attributes);
        }
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;
};

// Sets up and starts one child; the caller records it as running.
SpawnResult spawn_child(const std::vector<std::string>& argv, const std::string& stderr_path,
                        const std::string& launcher) {
    SpawnSetup setup;
    if (setup.init_error) return {-1, failed("posix_spawn set-up", setup.init_error)};
    // The first set-up call that fails, if any.
    std::string failed_call;
    int rc = 0;
    auto step = [&](const char* call, int result) {
        if (rc == 0 && result != 0) {
            rc = result;
            failed_call = call;
        }
    };
    step("addopen stdin", posix_spawn_file_actions_addopen(&setup.actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0));
    step("addopen stdout", posix_spawn_file_actions_addopen(&setup.actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0));
    step("addopen stderr", posix_spawn_file_actions_addopen(&setup.actions, STDERR_FILENO, stderr_path.c_str(),
                                                            O_WRONLY | O_CREAT | O_TRUNC, 0600));
    // Descriptors are opened close-on-exec throughout the app; this also
    // covers any that a library opened without.
    step("addclosefrom", posix_spawn_file_actions_addclosefrom_np(&setup.actions, STDERR_FILENO + 1));
    // The app blocks its stop signals in every thread and ignores SIGPIPE; the
    // child starts with neither.
    sigset_t none, defaults;
    sigemptyset(&none);
    sigemptyset(&defaults);
    for (int signal : {SIGPIPE, SIGINT, SIGTERM, SIGHUP}) sigaddset(&defaults, signal);
    step("setsigmask", posix_spawnattr_setsigmask(&setup.attributes, &none));
    step("setsigdefault", posix_spawnattr_setsigdefault(&setup.attributes, &defaults));
    step("setpgroup", posix_spawnattr_setpgroup(&setup.attributes, 0));
    step("setflags", posix_spawnattr_setflags(&setup.attributes,
                                              POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETPGROUP));
    if (rc != 0) return {-1, failed(failed_call.c_str(), rc)};

    std::vector<std::string> full;
    if (!launcher.empty()) full = {launcher, exec_child_flag, std::to_string(getpid())};
    full.insert(full.end(), argv.begin(), argv.end());
    std::vector<char*> args;
    for (auto& a : full) args.push_back(a.data());
    args.push_back(nullptr);

    pid_t pid = -1;
    rc = posix_spawn(&pid, args[0], &setup.actions, &setup.attributes, args.data(), environ);
    if (rc != 0) return {-1, std::strerror(rc)};
    return {pid, {}};
}

// A program name as execvp would find it: in PATH unless it holds a slash.
std::optional<std::string> find_program(const std::string& name) {
    auto runnable = [](const std::string& path) {
        struct stat info {};
        return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::access(path.c_str(), X_OK) == 0;
    };
    if (name.find('/') != std::string::npos) return runnable(name) ? std::optional(name) : std::nullopt;
    const char* path = std::getenv("PATH");
    std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
    std::size_t start = 0;
    for (;;) {
        std::size_t end = dirs.find(':', start);
        std::string dir = dirs.substr(start, end - start);
        std::string candidate = (dir.empty() ? "." : dir) + "/" + name;
        if (runnable(candidate)) return candidate;
        if (end == std::string::npos) return std::nullopt;
        start = end + 1;
    }
}

bool has_exited(pid_t pid) {
    siginfo_t info{};
    // WNOWAIT: the child stays a zombie, and its pid stays its own, until it
    // is reaped under the lock.
    if (waitid(P_PID, static_cast<id_t>(pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0) return errno != EINTR;
    return info.si_pid == pid;
}

bool wait_until(pid_t pid, Clock::time_point deadline, const CancelCheck& cancelled) {
    for (;;) {
        if (has_exited(pid)) return true;
        if (Clock::now() >= deadline || (cancelled && cancelled())) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

}  // namespace

// Every child the app started and has not reaped yet, and the thread that
// starts them.
struct ChildSpawner::State {
    std::mutex children_mutex;
    std::set<pid_t> running_children;  // guarded by children_mutex
    bool stopping = false;             // guarded by children_mutex

    std::string launcher;
    std::mutex queue_mutex;
    std::condition_variable wake;
    std::deque<SpawnRequest*> queue;  // guarded by queue_mutex
    bool quit = false;                // guarded by queue_mutex
    std::thread spawning;

    SpawnResult spawn_now(const std::vector<std::string>& argv, const std::string& stderr_path) {
        std::lock_guard lock(children_mutex);
        if (stopping) return {-1, "vistrel-app is stopping"};
        SpawnResult spawned = spawn_child(argv, stderr_path, launcher);
        if (spawned.pid >= 0) running_children.insert(spawned.pid);
        return spawned;
    }

    void serve_spawns() {
        std::unique_lock lock(queue_mutex);
        for (;;) {
            wake.wait(lock, [&] { return quit || !queue.empty(); });
            if (queue.empty()) return;
            SpawnRequest* request = queue.front();
            queue.pop_front();
            lock.unlock();
            request->result.set_value(spawn_now(request->argv, request->stderr_path));
            lock.lock();
        }
    }

    // The child's group, which it leads; the child is not reaped yet.
    void signal_child(pid_t pid, int signal) {
        std::lock_guard lock(children_mutex);
        if (running_children.count(pid)) ::kill(-pid, signal);
    }
};

ChildSpawner::ChildSpawner(std::string launcher) : state_(std::make_unique<State>()) {
    state_->launcher = std::move(launcher);
    if (!state_->launcher.empty()) state_->spawning = std::thread([state = state_.get()] { state->serve_spawns(); });
}

ChildSpawner::~ChildSpawner() {
    stop_all();
    if (state_->spawning.joinable()) {
        {
            std::lock_guard lock(state_->queue_mutex);
            state_->quit = true;
        }
        state_->wake.notify_one();
        state_->spawning.join();
    }
}

int exec_child_main(int argc, char** argv) {
    if (argc < 4) return 127;
    // The kernel sends this when the thread that started us ends; the app
    // starts children from a thread that lives as long as it does.
    if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0) return 127;
    // The app may have ended before the line above took effect.
    if (std::to_string(getppid()) != argv[2]) return 127;
    execv(argv[3], argv + 3);
    std::fprintf(stderr, "vistrel-app: cannot run %s: %s\n", argv[3], std::strerror(errno));
    return 127;
}

ChildOutcome ChildSpawner::run(const std::vector<std::string>& argv, const std::string& stderr_path,
                               std::chrono::milliseconds limit, const CancelCheck& cancelled,
                               const CancelCheck& finish_early) {
    ChildOutcome outcome;
    auto program = argv.empty() ? std::nullopt : find_program(argv[0]);
    if (!program) {
        outcome.start_error = std::strerror(ENOENT);
        return outcome;
    }
    std::vector<std::string> resolved = argv;
    resolved[0] = *program;

    State& s = *state_;
    SpawnResult spawned;
    if (s.spawning.joinable()) {
        SpawnRequest request{resolved, stderr_path, {}};
        auto result = request.result.get_future();
        {
            std::lock_guard lock(s.queue_mutex);
            s.queue.push_back(&request);
        }
        s.wake.notify_one();
        spawned = result.get();
    } else {
        spawned = s.spawn_now(resolved, stderr_path);
    }
    if (spawned.pid < 0) {
        outcome.start_error = spawned.error;
        std::lock_guard lock(s.children_mutex);
        outcome.interrupted = s.stopping;
        return outcome;
    }
    outcome.started = true;
    pid_t pid = spawned.pid;

    Clock::time_point deadline = Clock::now() + limit;
    // Polled with the other checks: the first time finish_early says so, the
    // child is asked to finish, and given a little longer to do it.
    auto stop_waiting = [&] {
        if (finish_early && !outcome.asked_to_finish && finish_early()) {
            outcome.asked_to_finish = true;
            s.signal_child(pid, SIGINT);
            deadline = std::min(deadline, Clock::now() + std::chrono::seconds(10));
        }
        return (cancelled && cancelled()) || Clock::now() >= deadline;
    };
    if (!wait_until(pid, Clock::time_point::max(), stop_waiting)) {
        outcome.timed_out = !(cancelled && cancelled());
        outcome.cancelled = !outcome.timed_out;
        s.signal_child(pid, SIGTERM);
        if (!wait_until(pid, Clock::now() + std::chrono::seconds(3), {})) {
            s.signal_child(pid, SIGKILL);
            while (!has_exited(pid)) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }
    int status = 0;
    {
        std::lock_guard lock(s.children_mutex);
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
        s.running_children.erase(pid);
        outcome.interrupted = s.stopping;
    }
    outcome.exit_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return outcome;
}

void ChildSpawner::stop_all() {
    std::lock_guard lock(state_->children_mutex);
    state_->stopping = true;
    for (pid_t pid : state_->running_children) ::kill(-pid, SIGTERM);
}
