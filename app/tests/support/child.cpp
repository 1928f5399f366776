#include "child.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace {
std::vector<char*> c_strings(const std::vector<std::string>& strings) {
    std::vector<char*> out;
    for (const auto& s : strings) out.push_back(const_cast<char*>(s.c_str()));
    out.push_back(nullptr);
    return out;
}

pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env, const std::string& cwd,
            int stdout_fd, const std::string& stdout_path, const std::string& stderr_path, int fd3) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (stdout_fd >= 0) {
        posix_spawn_file_actions_adddup2(&actions, stdout_fd, STDOUT_FILENO);
    } else {
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO,
                                         stdout_path.empty() ? "/dev/null" : stdout_path.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0644);
    }
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, stderr_path.empty() ? "/dev/null" : stderr_path.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd3 >= 0) posix_spawn_file_actions_adddup2(&actions, fd3, 3);
    if (!cwd.empty()) posix_spawn_file_actions_addchdir_np(&actions, cwd.c_str());

    // Tests may run with signals blocked by gtest or the shell; children start clean.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t none, defaults;
    sigemptyset(&none);
    sigfillset(&defaults);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);

    auto args = c_strings(argv);
    auto envp = c_strings(env);
    pid_t pid = -1;
    int rc = posix_spawnp(&pid, args[0], &actions, &attributes, args.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    if (rc != 0) throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(rc));
    return pid;
}

bool wait_for_exit(pid_t pid, int& status, std::chrono::milliseconds limit) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    for (;;) {
        pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid || (done < 0 && errno != EINTR)) return true;
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}
}  // namespace

std::vector<std::string> clean_environment(const std::vector<std::string>& extra) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
        std::string entry = *e;
        std::string name = entry.substr(0, entry.find('='));
        if (name == "DISPLAY" || name == "XDG_CONFIG_HOME" || name == "VISTREL_PORT" || name == "XAUTHORITY" ||
            name == "WAYLAND_DISPLAY" || name == "TMPDIR") {
            continue;
        }
        env.push_back(entry);
    }
    env.insert(env.end(), extra.begin(), extra.end());
    return env;
}

RunResult run_program(const std::vector<std::string>& argv, const std::string& cwd, const std::vector<std::string>& env,
                      std::chrono::seconds limit) {
    std::string outputs = make_temp_folder("vistrel-run");
    std::string out_path = outputs + "/out", err_path = outputs + "/err";
    auto started = std::chrono::steady_clock::now();
    pid_t pid = spawn(argv, env, cwd, -1, out_path, err_path, -1);
    RunResult result;
    int status = 0;
    if (!wait_for_exit(pid, status, limit)) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        status = -1;
    }
    result.took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
    result.exit_status = status >= 0 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = read_file(out_path);
    result.err = read_file(err_path);
    remove_folder(outputs);
    return result;
}

pid_t spawn_program(const std::vector<std::string>& argv, const std::vector<std::string>& env, int stdout_fd,
                    const std::string& stderr_path, int fd3) {
    return spawn(argv, env, "", stdout_fd, "", stderr_path, fd3);
}

int stop_program(pid_t pid, std::chrono::milliseconds grace) {
    if (pid <= 0) return -1;
    int status = 0;
    kill(pid, SIGTERM);
    if (!wait_for_exit(pid, status, grace)) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

void kill_program(pid_t pid) {
    if (pid <= 0) return;
    kill(pid, SIGKILL);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
}

std::string read_first_line(int fd, std::chrono::seconds limit) {
    std::string line;
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (line.find('\n') == std::string::npos) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd watch{fd, POLLIN, 0};
        if (left.count() <= 0 || poll(&watch, 1, static_cast<int>(left.count())) <= 0) break;
        // One byte at a time: nothing after the line is taken from the pipe.
        char c;
        if (read(fd, &c, 1) != 1) break;
        line += c;
    }
    return line;
}

std::string make_temp_folder(const std::string& prefix) {
    std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
    if (!mkdtemp(pattern.data())) throw std::runtime_error("cannot create a temporary folder");
    return pattern;
}

void remove_folder(const std::string& path) {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void write_file(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}
