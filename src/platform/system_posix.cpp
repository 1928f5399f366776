#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "platform/system.h"

void platform_start() {
    // A reader that goes away (a closed pipe, an app that hangs up) must give
    // an error to handle, never end the process; so must a file that grows
    // past the process's size limit, so that the file it replaces is kept.
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
}

std::string system_message(int code) {
    return std::strerror(code);
}

std::optional<std::string> environment_value(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr) return std::nullopt;
    return std::string(value);
}

std::optional<IoError> write_all(FileHandle file, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t written = write(static_cast<int>(file), bytes.data(), bytes.size());
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

void exit_process(int status) {
    _exit(status);
}
