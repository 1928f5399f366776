#include <fcntl.h>
#include <unistd.h>
#include <cerrno>

#include "platform/new_file.h"

NewFileResult create_new_file(const std::string& path) {
    int fd;
    do {
        fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return {{}, os_error(errno), errno == EEXIST};
    return {{fd, path}, std::nullopt, false};
}

std::optional<IoError> finish_new_file(NewFile& file) {
    int fd = static_cast<int>(file.handle);
    file.handle = -1;
    if (close(fd) < 0 && errno != EINTR) {
        IoError error = os_error(errno);
        remove_new_file(file);
        return error;
    }
    return std::nullopt;
}

void remove_new_file(NewFile& file) {
    if (file.handle != -1) close(static_cast<int>(file.handle));
    file.handle = -1;
    unlink(file.path.c_str());
}
