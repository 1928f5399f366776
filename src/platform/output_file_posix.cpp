#include "platform/output_file.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// Temporary files that an interrupting signal must not leave behind: the
// handler removes them, then ends the process as the signal would have.
constexpr int watched_signals[] = {SIGINT, SIGTERM, SIGHUP};

struct PendingFile {
    std::atomic<bool> claimed{false};
    std::atomic<bool> ready{false};  // `path` is complete
    char path[PATH_MAX]{};
};
// Zero at load time: nothing runs at start-up for it.
constinit PendingFile pending_files[8];

void remove_pending_files(int signal_number) {
    for (PendingFile& file : pending_files) {
        if (file.ready.load()) unlink(file.path);
    }
    std::signal(signal_number, SIG_DFL);
    raise(signal_number);
}

// Installed once, and only over the default action: a signal that the
// process ignores, or handles itself, is left as it is.
void watch_signals() {
    static const bool installed = [] {
        for (int signal_number : watched_signals) {
            struct sigaction current {};
            if (sigaction(signal_number, nullptr, &current) != 0) continue;
            if ((current.sa_flags & SA_SIGINFO) != 0 || current.sa_handler != SIG_DFL) continue;
            struct sigaction action {};
            action.sa_handler = remove_pending_files;
            sigemptyset(&action.sa_mask);
            sigaction(signal_number, &action, nullptr);
        }
        return true;
    }();
    (void)installed;
}

// Holds the watched signals back while a temporary file is made, renamed or
// removed, so that the handler never sees it half-done.
struct SignalsHeld {
    sigset_t previous;
    SignalsHeld() {
        sigset_t held;
        sigemptyset(&held);
        for (int signal_number : watched_signals) sigaddset(&held, signal_number);
        pthread_sigmask(SIG_BLOCK, &held, &previous);
    }
    ~SignalsHeld() { pthread_sigmask(SIG_SETMASK, &previous, nullptr); }
    SignalsHeld(const SignalsHeld&) = delete;
    SignalsHeld& operator=(const SignalsHeld&) = delete;
};

// Without a free place the file is still written; only a signal could then
// leave it behind.
void remember_pending(const std::string& path) {
    if (path.size() >= PATH_MAX) return;
    for (PendingFile& file : pending_files) {
        bool expected = false;
        if (!file.claimed.compare_exchange_strong(expected, true)) continue;
        std::memcpy(file.path, path.c_str(), path.size() + 1);
        file.ready.store(true);
        return;
    }
}

void forget_pending(const std::string& path) {
    for (PendingFile& file : pending_files) {
        if (!file.ready.load() || path != file.path) continue;
        file.ready.store(false);
        file.claimed.store(false);
        return;
    }
}

int open_retrying(const char* path, int flags, mode_t mode) {
    int fd;
    do {
        fd = open(path, flags | O_CLOEXEC, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// The folder part of a path, with its closing "/"; empty for a bare name.
std::string folder_of(const std::string& path) {
    std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// A path that leads through /proc (/dev/stdout, /dev/fd/1) names a file some
// process has open, not a place in a folder.
bool leads_through_proc(std::string path) {
    for (int hop = 0; hop < 40; ++hop) {
        if (path.rfind("/proc/", 0) == 0) return true;
        struct stat status;
        if (lstat(path.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) return false;
        char target[PATH_MAX];
        ssize_t length = readlink(path.c_str(), target, sizeof target);
        if (length <= 0 || length == static_cast<ssize_t>(sizeof target)) return false;
        std::string next(target, static_cast<std::size_t>(length));
        path = next.front() == '/' ? next : folder_of(path) + next;
    }
    return false;
}

std::string hidden_name() {
    static std::atomic<std::uint64_t> counter{0};
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    std::uint64_t mix = static_cast<std::uint64_t>(now.tv_nsec) ^ (static_cast<std::uint64_t>(now.tv_sec) << 30) ^
                        (static_cast<std::uint64_t>(getpid()) << 20) ^ (counter.fetch_add(1) * 0x9E3779B97F4A7C15u);
    mix ^= mix >> 31;
    mix *= 0xBF58476D1CE4E5B9u;
    mix ^= mix >> 29;
    std::string name = ".vistrel-0123456789abcdef.tmp";
    for (std::size_t i = 0; i < 16; ++i) name[9 + i] = "0123456789abcdef"[(mix >> (60 - 4 * i)) & 0xF];
    return name;
}

// A new, hidden file in `folder`, made by this call alone; `errno` tells why not.
bool create_temporary(const std::string& folder, mode_t mode, OpenOutput& output) {
    watch_signals();
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string path = folder + hidden_name();
        SignalsHeld held;
        int fd = open_retrying(path.c_str(), O_WRONLY | O_CREAT | O_EXCL, mode);
        if (fd >= 0) {
            remember_pending(path);
            output.handle = fd;
            output.temporary = std::move(path);
            return true;
        }
        if (errno != EEXIST) return false;
    }
    return false;
}

// A full disk fails the save rather than fall back on writing in place,
// which would lose the old file as well.
bool disk_is_full(int error) {
    return error == ENOSPC || error == EDQUOT;
}

OpenOutputResult in_place(const std::string& path, bool exists) {
    OpenOutputResult result;
    result.output.target = path;
    int fd = open_retrying(path.c_str(), O_WRONLY | O_CREAT, 0666);
    if (fd < 0) {
        result.error = os_error(errno);
        return result;
    }
    struct stat status;
    result.output.handle = fd;
    result.output.created = !exists;
    result.output.truncate = exists && fstat(fd, &status) == 0 && S_ISREG(status.st_mode);
    return result;
}

OpenOutputResult in_place_with(int fd, const std::string& path) {
    OpenOutputResult result;
    result.output.handle = fd;
    result.output.target = path;
    result.output.truncate = true;
    return result;
}

OpenOutputResult new_file(const std::string& path) {
    OpenOutputResult result;
    result.output.target = path;
    if (create_temporary(folder_of(path), 0666, result.output)) return result;  // the usual mode, less the umask
    if (disk_is_full(errno)) {
        result.error = os_error(errno);
        return result;
    }
    return in_place(path, false);
}
}  // namespace

OpenOutputResult open_output_file(const std::string& path) {
    struct stat status;
    if (lstat(path.c_str(), &status) != 0) {
        if (errno == ENOENT) return new_file(path);
        return in_place(path, true);  // fails as the open would have
    }
    std::string target = path;
    if (S_ISLNK(status.st_mode)) {
        if (leads_through_proc(path)) return in_place(path, true);
        // A link to nothing: writing creates the file it names, which stays
        // (empty) should the save fail.
        if (stat(path.c_str(), &status) != 0) return in_place(path, true);
        if (S_ISREG(status.st_mode)) {
            char* resolved = realpath(path.c_str(), nullptr);
            if (resolved == nullptr) return in_place(path, true);
            target = resolved;
            std::free(resolved);
        }
    }
    if (!S_ISREG(status.st_mode)) return in_place(path, true);

    // A file that cannot be written is refused here, as when written in place.
    int fd = open_retrying(path.c_str(), O_WRONLY, 0);
    if (fd < 0) return OpenOutputResult{{}, os_error(errno)};
    // Renaming over a file would part it from its other names, or hand
    // another user's file to this one.
    if (status.st_nlink > 1 || (geteuid() != 0 && status.st_uid != geteuid())) return in_place_with(fd, path);
    std::string folder = folder_of(target);
    struct stat folder_status;
    // A file mounted on its own cannot be renamed over.
    if (stat(folder.empty() ? "." : folder.c_str(), &folder_status) != 0 || folder_status.st_dev != status.st_dev) {
        return in_place_with(fd, path);
    }
    OpenOutputResult result;
    result.output.target = target;
    if (!create_temporary(folder, 0600, result.output)) {
        if (!disk_is_full(errno)) return in_place_with(fd, path);
        result.error = os_error(errno);
        close(fd);
        return result;
    }
    close(fd);
    // The new file keeps the old one's owner where allowed, and its mode.
    (void)!fchown(static_cast<int>(result.output.handle), status.st_uid, status.st_gid);
    (void)fchmod(static_cast<int>(result.output.handle), status.st_mode & 0777);
    return result;
}

std::optional<IoError> start_output_file(OpenOutput& output) {
    if (!output.truncate) return std::nullopt;
    while (ftruncate(static_cast<int>(output.handle), 0) != 0) {
        if (errno != EINTR) return os_error(errno);
    }
    return std::nullopt;
}

std::optional<IoError> write_output_file(OpenOutput& output, std::string_view bytes) {
    return write_all(output.handle, bytes);
}

std::optional<IoError> finish_output_file(OpenOutput& output) {
    int fd = static_cast<int>(output.handle);
    output.handle = -1;
    if (output.temporary.empty()) {
        // A failing close can be the only sign that the data did not reach the disk.
        if (close(fd) != 0 && errno != EINTR) return os_error(errno);
        return std::nullopt;
    }
    // Not forced to the disk first: what the rename must survive is a failed
    // transfer or an ended process, and an fsync would cost every save a
    // journal commit and a large one the write-back of the whole file.
    if (close(fd) != 0 && errno != EINTR) return os_error(errno);
    SignalsHeld held;
    if (rename(output.temporary.c_str(), output.target.c_str()) != 0) return os_error(errno);
    forget_pending(output.temporary);
    output.temporary.clear();
    return std::nullopt;
}

void abandon_output_file(OpenOutput& output) {
    if (output.handle >= 0) close(static_cast<int>(output.handle));
    output.handle = -1;
    if (!output.temporary.empty()) {
        SignalsHeld held;
        unlink(output.temporary.c_str());
        forget_pending(output.temporary);
        output.temporary.clear();
    } else if (output.created) {
        unlink(output.target.c_str());
        output.created = false;
    }
}
