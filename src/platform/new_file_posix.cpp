#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

#include "platform/new_file.h"

namespace {
std::optional<IoError> write_all(int fd, std::string_view bytes) {
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
}  // namespace

NewFileResult write_new_file(const std::string& path, std::string_view bytes) {
    int fd;
    do {
        fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return {os_error(errno), errno == EEXIST};
    std::optional<IoError> error = write_all(fd, bytes);
    // A failing close can be the only sign that the data did not reach the disk.
    if (close(fd) < 0 && errno != EINTR && !error) error = os_error(errno);
    if (error) unlink(path.c_str());
    return {error, false};
}
