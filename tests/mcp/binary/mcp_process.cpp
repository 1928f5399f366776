#include "mcp_process.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>

bool testing_windows_mcp() {
    const char* binary = std::getenv("VISTREL_MCP_BIN");
    std::string name = binary ? binary : "";
    return name.size() > 4 && name.compare(name.size() - 4, 4, ".exe") == 0;
}

McpProcess::McpProcess(const std::vector<std::string>& arguments, std::optional<std::uint64_t> file_size_limit) {
    const char* binary = std::getenv("VISTREL_MCP_BIN");
    if (binary == nullptr || *binary == '\0') throw std::runtime_error("VISTREL_MCP_BIN is not set");
    std::vector<std::string> command;
    if (testing_windows_mcp()) command.push_back("wine");
    command.push_back(std::filesystem::absolute(binary).string());
    command.insert(command.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : command) argv.push_back(word.data());
    argv.push_back(nullptr);

    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) < 0 || pipe2(out, O_CLOEXEC) < 0 || pipe2(err, O_CLOEXEC) < 0) {
        throw std::runtime_error("pipe");
    }
    setenv("WINEDEBUG", "-all", 1);
    unsetenv("VISTREL_PORT");
    pid_ = fork();
    if (pid_ < 0) throw std::runtime_error("fork");
    if (pid_ == 0) {
        dup2(in[0], 0);
        dup2(out[1], 1);
        dup2(err[1], 2);
        signal(SIGPIPE, SIG_DFL);
        if (file_size_limit) {
            rlimit limit{static_cast<rlim_t>(*file_size_limit), static_cast<rlim_t>(*file_size_limit)};
            if (setrlimit(RLIMIT_FSIZE, &limit) < 0) _exit(125);
        }
        execvp(argv[0], argv.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    close(err[1]);
    in_ = in[1];
    out_fd_ = out[0];
    err_fd_ = err[0];
}

McpProcess::~McpProcess() {
    close_input();
    if (status_ < 0 && pid_ > 0) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
    if (out_fd_ >= 0) close(out_fd_);
    if (err_fd_ >= 0) close(err_fd_);
}

void McpProcess::write(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t wrote = ::write(in_, bytes.data() + done, bytes.size() - done);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) throw std::runtime_error("cannot write to vistrel-mcp");
        done += static_cast<std::size_t>(wrote);
    }
}

void McpProcess::close_output() {
    if (out_fd_ >= 0) close(out_fd_);
    out_fd_ = -1;
}

void McpProcess::close_input() {
    if (in_ >= 0) close(in_);
    in_ = -1;
}

// Reads what is there on either output; false when both have ended or a
// minute passed without a byte.
bool McpProcess::fill() {
    pollfd watch[2] = {{out_fd_, POLLIN, 0}, {err_fd_, POLLIN, 0}};
    if (out_fd_ < 0 && err_fd_ < 0) return false;
    int ready = poll(watch, 2, 60000);
    if (ready == 0) return false;
    if (ready < 0) return errno == EINTR;
    int* fds[2] = {&out_fd_, &err_fd_};
    std::string* sinks[2] = {&out_, &err_};
    for (int i = 0; i < 2; ++i) {
        if (*fds[i] < 0 || watch[i].revents == 0) continue;
        char buffer[65536];
        ssize_t got = read(*fds[i], buffer, sizeof buffer);
        if (got > 0) {
            sinks[i]->append(buffer, static_cast<std::size_t>(got));
        } else if (got == 0 || errno != EINTR) {
            close(*fds[i]);
            *fds[i] = -1;
        }
    }
    return true;
}

std::string McpProcess::read_line() {
    for (;;) {
        std::size_t feed = out_.find('\n');
        if (feed != std::string::npos) {
            std::string line = out_.substr(0, feed + 1);
            out_.erase(0, feed + 1);
            return line;
        }
        if (out_fd_ < 0 || !fill()) return "";
    }
}

int McpProcess::wait() {
    while (fill()) {
    }
    int status = 0;
    while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return status_;
}
