#include "recording/scratch_folder.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>

namespace fs = std::filesystem;

namespace {
constexpr std::string_view prefix = "vistrel-record-";
constexpr const char* lock_name = "owner.lock";

std::runtime_error failure(const std::string& what) {
    return std::runtime_error(what + ": " + std::strerror(errno));
}
}  // namespace

ScratchFolder::ScratchFolder(const fs::path& parent) {
    // Made under a hidden name and renamed only once its lock is held, so
    // that no other app ever sees it unlocked.
    std::string staging = (parent / ("." + std::string(prefix) + "XXXXXX")).string();
    if (!mkdtemp(staging.data())) throw failure("cannot create a folder in " + parent.string());
    fs::path hidden = staging;
    lock_fd_ = ::open((hidden / lock_name).c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (lock_fd_ < 0 || ::flock(lock_fd_, LOCK_EX) != 0) {
        auto error = failure("cannot lock " + (hidden / lock_name).string());
        if (lock_fd_ >= 0) ::close(lock_fd_);
        std::error_code ignored;
        fs::remove_all(hidden, ignored);
        throw error;
    }
    path_ = parent / hidden.filename().string().substr(1);
    if (::renameat2(AT_FDCWD, hidden.c_str(), AT_FDCWD, path_.c_str(), RENAME_NOREPLACE) != 0) {
        auto error = failure("cannot rename " + hidden.string());
        ::close(lock_fd_);
        std::error_code ignored;
        fs::remove_all(hidden, ignored);
        throw error;
    }
}

ScratchFolder::~ScratchFolder() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
    ::close(lock_fd_);
}

int remove_abandoned_scratch(const fs::path& parent) {
    int removed = 0;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(parent, error)) {
        std::string name = entry.path().filename().string();
        std::error_code ignored;
        if (name.rfind(prefix, 0) == 0 && entry.is_directory(ignored)) {
            int fd = ::open((entry.path() / lock_name).c_str(), O_RDWR | O_CLOEXEC);
            // Taken: its app is gone. No lock file: not a folder a running app
            // could be using.
            bool abandoned = fd < 0 ? errno == ENOENT : ::flock(fd, LOCK_EX | LOCK_NB) == 0;
            if (abandoned) {
                fs::remove_all(entry.path(), ignored);
                ++removed;
            }
            if (fd >= 0) ::close(fd);
        } else if (name.rfind("." + std::string(prefix), 0) == 0 && entry.is_directory(ignored)) {
            // A staging folder lives for a moment; one that is old was left by
            // an app killed in that moment.
            auto age = fs::file_time_type::clock::now() - fs::last_write_time(entry.path(), ignored);
            if (age > std::chrono::minutes(1)) {
                fs::remove_all(entry.path(), ignored);
                ++removed;
            }
        }
    }
    return removed;
}
