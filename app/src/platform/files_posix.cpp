#include "platform/files.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <thread>

namespace fs = std::filesystem;

namespace {
// Out of descriptors or memory, for the process or the whole system.
bool exhausted(int error) {
    return error == EMFILE || error == ENFILE || error == ENOMEM;
}

FileProblem problem_of(int error) {
    return exhausted(error) ? FileProblem::exhausted : FileProblem::failed;
}

[[noreturn]] void fail_write(const fs::path& path, int error) {
    throw FileError("cannot write " + path.string() + ": " + std::strerror(error), problem_of(error));
}

void write_all(int fd, const std::string& text, const fs::path& path) {
    std::size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) fail_write(path, n < 0 ? errno : EIO);
        done += static_cast<std::size_t>(n);
    }
}

std::atomic<unsigned> temp_counter{0};
}  // namespace

fs::path config_folder_from(const char* xdg_config_home, const char* home) {
    // The base directory rules ignore a relative XDG_CONFIG_HOME.
    if (xdg_config_home && xdg_config_home[0] == '/') return fs::path(xdg_config_home) / "vistrel";
    fs::path base;
    if (home && home[0]) {
        base = home;
    } else if (const passwd* entry = getpwuid(getuid()); entry && entry->pw_dir) {
        base = entry->pw_dir;
    } else {
        base = "/tmp";
    }
    return base / ".config" / "vistrel";
}

fs::path config_folder() {
    return config_folder_from(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"));
}

FileRead read_small_file(const fs::path& file, std::size_t max_bytes) {
    int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT) return {FileRead::Status::missing, {}, {}, false};
        return {FileRead::Status::failed, {}, std::strerror(errno), exhausted(errno)};
    }
    FileRead read;
    char buffer[8192];
    for (;;) {
        ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            read = {FileRead::Status::failed, {}, std::strerror(errno), exhausted(errno)};
            break;
        }
        if (n == 0) break;
        read.text.append(buffer, static_cast<std::size_t>(n));
        if (read.text.size() > max_bytes) {
            read = {FileRead::Status::too_large, {}, {}, false};
            break;
        }
    }
    ::close(fd);
    return read;
}

void make_private_folder(const fs::path& folder) {
    fs::path partial;
    for (const auto& part : folder) {
        partial /= part;
        if (::mkdir(partial.c_str(), 0700) == 0) {
            // mkdir leaves out what the umask says; the folder is to be 0700.
            if (::chmod(partial.c_str(), 0700) != 0) {
                throw fs::filesystem_error("cannot make it private", partial,
                                           std::error_code(errno, std::generic_category()));
            }
        } else if (errno != EEXIST) {
            throw fs::filesystem_error("cannot create it", partial, std::error_code(errno, std::generic_category()));
        }
    }
    if (!fs::is_directory(folder)) {
        throw fs::filesystem_error("it is not a folder", folder, std::make_error_code(std::errc::not_a_directory));
    }
}

std::string atomic_temp_prefix(const fs::path& file) {
    // Appended piece by piece: g++ 12 wrongly warns about "." + name.
    std::string prefix = ".";
    prefix += file.filename().string();
    prefix += ".tmp-";
    return prefix;
}

void write_file_atomically(const fs::path& file, const std::string& text) {
    fs::path folder = file.parent_path();
    try {
        make_private_folder(folder);
    } catch (const fs::filesystem_error& e) {
        throw FileError("cannot create " + e.path1().string() + ": " + e.code().message());
    }

    fs::path temp =
        folder / (atomic_temp_prefix(file) + std::to_string(getpid()) + "-" + std::to_string(temp_counter++));
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) fail_write(temp, errno);
    try {
        write_all(fd, text, temp);
        if (::fsync(fd) != 0) fail_write(temp, errno);
        int rc = ::close(fd);
        fd = -1;
        if (rc != 0) fail_write(temp, errno);
        if (::rename(temp.c_str(), file.c_str()) != 0) fail_write(file, errno);
    } catch (...) {
        if (fd >= 0) ::close(fd);
        ::unlink(temp.c_str());
        throw;
    }
    // The rename itself reaches the disk only with the folder.
    int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
}

FileLock::FileLock(const fs::path& path, std::chrono::steady_clock::time_point deadline) {
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) throw FileError("cannot open " + path.string() + ": " + std::strerror(errno), problem_of(errno));
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if ((errno != EWOULDBLOCK && errno != EINTR) || std::chrono::steady_clock::now() >= deadline) {
            int error = errno == EINTR ? EWOULDBLOCK : errno;
            ::close(fd);
            throw FileError("cannot lock " + path.string() + ": " + std::strerror(error),
                            error == EWOULDBLOCK ? FileProblem::held : problem_of(error));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    handle_ = fd;
}

FileLock::~FileLock() {
    ::close(static_cast<int>(handle_));
}
