#include "sources/atomic_file.h"

#include "sources/config_dir.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace fs = std::filesystem;

namespace {
[[noreturn]] void fail_write(const fs::path& path, int error) {
    throw AtomicWriteError("cannot write " + path.string() + ": " + std::strerror(error));
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

void write_file_atomically(const fs::path& file, const std::string& text) {
    fs::path folder = file.parent_path();
    try {
        make_private_folder(folder);
    } catch (const fs::filesystem_error& e) {
        throw AtomicWriteError("cannot create " + e.path1().string() + ": " + e.code().message());
    }

    std::string temp_name = ".";
    temp_name += file.filename().string();
    temp_name += ".tmp-" + std::to_string(getpid()) + "-" + std::to_string(temp_counter++);
    fs::path temp = folder / temp_name;
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
