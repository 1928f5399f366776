#include "run_vistrel.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {
std::string required_environment(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') throw std::runtime_error(std::string(name) + " is not set");
    return value;
}

std::vector<std::string> environment_for(const RunOptions& options) {
    std::map<std::string, std::string> variables;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        std::string text = *entry;
        std::size_t equals = text.find('=');
        if (equals != std::string::npos) variables[text.substr(0, equals)] = text.substr(equals + 1);
    }
    // Every run starts without the variable the program reads, unless the test sets it.
    variables.erase("VISTREL_PORT");
    if (testing_windows_build()) {
        variables["WINEDEBUG"] = "-all";
        variables["LC_ALL"] = "C.UTF-8";  // arguments and file names cross into wine as UTF-8
    }
    for (const auto& [name, value] : options.environment) {
        if (value) {
            variables[name] = *value;
        } else {
            variables.erase(name);
        }
    }
    std::vector<std::string> list;
    for (const auto& [name, value] : variables) list.push_back(name + "=" + value);
    return list;
}

std::vector<char*> pointers(std::vector<std::string>& texts) {
    std::vector<char*> list;
    for (std::string& text : texts) list.push_back(text.data());
    list.push_back(nullptr);
    return list;
}
}  // namespace

bool testing_windows_build() {
    const char* binary = std::getenv("VISTREL_BIN");
    std::string name = binary ? binary : "";
    return name.size() > 4 && name.compare(name.size() - 4, 4, ".exe") == 0;
}

RunResult run_vistrel(const std::vector<std::string>& arguments, const RunOptions& options) {
    std::vector<std::string> command;
    const char* runner = std::getenv("VISTREL_RUNNER");
    if (runner == nullptr && testing_windows_build()) runner = "wine";
    if (runner != nullptr) {
        std::istringstream words(runner);
        for (std::string word; words >> word;) command.push_back(word);
    }
    // Absolute, since the run starts in another folder.
    command.push_back(std::filesystem::absolute(required_environment("VISTREL_BIN")).string());
    command.insert(command.end(), arguments.begin(), arguments.end());
    std::vector<std::string> environment = environment_for(options);
    std::vector<char*> argv = pointers(command);
    std::vector<char*> envp = pointers(environment);
    std::string folder = options.folder.string();
    std::optional<rlim_t> file_size_limit;
    if (options.file_size_limit) file_size_limit = static_cast<rlim_t>(*options.file_size_limit);
    bool drop_to_nobody = options.as_nobody && geteuid() == 0;

    int out_pipe[2], err_pipe[2];
    if (pipe2(out_pipe, O_CLOEXEC) < 0 || pipe2(err_pipe, O_CLOEXEC) < 0) throw std::runtime_error("pipe");
    pid_t child = fork();
    if (child < 0) throw std::runtime_error("fork");
    if (child == 0) {
        // Only async-signal-safe calls between fork and exec.
        int null_input = open("/dev/null", O_RDONLY);
        dup2(null_input, 0);
        dup2(out_pipe[1], 1);
        dup2(err_pipe[1], 2);
        if (chdir(folder.c_str()) < 0) _exit(125);
        for (int signal_number : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGXFSZ}) signal(signal_number, SIG_DFL);
        if (file_size_limit) {
            rlimit limit{*file_size_limit, *file_size_limit};
            if (setrlimit(RLIMIT_FSIZE, &limit) < 0) _exit(125);
        }
        if (drop_to_nobody && (setgroups(0, nullptr) < 0 || setgid(nobody_id) < 0 || setuid(nobody_id) < 0)) _exit(125);
        execvpe(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(out_pipe[1]);
    close(err_pipe[1]);
    if (options.close_stdout) {
        close(out_pipe[0]);
        out_pipe[0] = -1;
    }
    RunResult result;
    pollfd watch[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int open_count = options.close_stdout ? 1 : 2;
    char buffer[65536];
    bool signal_pending = static_cast<bool>(options.signal_when);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (open_count > 0) {
        if (signal_pending && options.signal_when()) {
            kill(child, options.signal);
            signal_pending = false;
        }
        // A run that hangs is killed rather than hanging the test suite.
        if (std::chrono::steady_clock::now() > deadline) {
            kill(child, SIGKILL);
            break;
        }
        int ready = poll(watch, 2, signal_pending ? 10 : 1000);
        if (ready == 0) continue;
        if (ready < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (int i = 0; i < 2; ++i) {
            if (watch[i].fd < 0 || watch[i].revents == 0) continue;
            ssize_t got = read(watch[i].fd, buffer, sizeof buffer);
            if (got > 0) {
                sinks[i]->append(buffer, static_cast<std::size_t>(got));
            } else if (got == 0 || errno != EINTR) {
                close(watch[i].fd);
                watch[i].fd = -1;
                --open_count;
            }
        }
    }
    for (auto& entry : watch) {
        if (entry.fd >= 0) close(entry.fd);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return result;
}

ScratchFolder::ScratchFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "vistrel-test-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp");
    path = pattern;
}

ScratchFolder::~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

std::map<std::string, std::string> files_in(const std::filesystem::path& folder) {
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::recursive_directory_iterator(folder)) {
        if (!entry.is_regular_file()) continue;
        std::ifstream in(entry.path(), std::ios::binary);
        std::ostringstream bytes;
        bytes << in.rdbuf();
        files[std::filesystem::relative(entry.path(), folder).generic_string()] = bytes.str();
    }
    return files;
}

void write_bytes(const std::filesystem::path& file, const std::string& bytes) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << bytes;
}
