#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "platform/system.h"

void platform_start() {
    // A reader that goes away (a closed pipe, an app that hangs up) must give
    // an error to handle, never end the process.
    std::signal(SIGPIPE, SIG_IGN);
}

std::string system_message(int code) {
    return std::strerror(code);
}

std::optional<std::string> environment_value(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr) return std::nullopt;
    return std::string(value);
}

static std::optional<IoError> write_all(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t written = write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            return os_error(errno);
        }
        if (written == 0) return IoError{"failed to write whole buffer"};
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return std::nullopt;
}

std::optional<IoError> write_stream(Stream stream, std::string_view bytes) {
    return write_all(stream == Stream::out ? STDOUT_FILENO : STDERR_FILENO, bytes);
}

std::optional<IoError> write_file(const std::string& path, const std::vector<std::string_view>& pieces) {
    int fd;
    do {
        fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return os_error(errno);
    for (std::string_view piece : pieces) {
        if (auto error = write_all(fd, piece)) {
            close(fd);
            return error;
        }
    }
    // A failing close can be the only sign that the data did not reach the disk.
    if (close(fd) < 0 && errno != EINTR) return os_error(errno);
    return std::nullopt;
}

void exit_process(int status) {
    _exit(status);
}
