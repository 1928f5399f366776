// The real video devices: /dev/video* and the system calls on them.
#include "cameras/v4l2/video_devices.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <filesystem>
#include <mutex>

namespace {
// The N of "videoN", or -1 for any other name.
int video_node_number(const std::string& name) {
    if (name.rfind("video", 0) != 0 || name.size() == 5) return -1;
    int number = -1;
    auto [end, error] = std::from_chars(name.data() + 5, name.data() + name.size(), number);
    if (error != std::errc() || end != name.data() + name.size()) return -1;
    return number;
}

class SystemVideoDevices final : public VideoDevices {
public:
    SystemVideoDevices() {
        // devtmpfs tells of nodes created and removed as devices come and
        // go, and udev's permission changes right after (IN_ATTRIB).
        watch_ = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (watch_ >= 0 &&
            inotify_add_watch(watch_, "/dev",
                              IN_CREATE | IN_DELETE | IN_ATTRIB | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF) < 0) {
            ::close(watch_);
            watch_ = -1;
        }
    }

    ~SystemVideoDevices() override {
        if (watch_ >= 0) ::close(watch_);
    }

    SystemVideoDevices(const SystemVideoDevices&) = delete;
    SystemVideoDevices& operator=(const SystemVideoDevices&) = delete;

    std::optional<std::uint64_t> changes() override {
        if (watch_ < 0) return std::nullopt;
        std::lock_guard lock(mutex_);
        alignas(inotify_event) char buffer[4096];
        for (;;) {
            ssize_t got = ::read(watch_, buffer, sizeof buffer);
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) break;
            for (ssize_t at = 0; at < got;) {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                std::string name = event->len > 0 ? std::string(event->name) : std::string();
                // An overflowed queue may have lost a video node's event.
                if ((event->mask & IN_Q_OVERFLOW) || video_node_number(name) >= 0) ++changes_;
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
        return changes_;
    }

    std::vector<std::string> list_nodes() override {
        std::vector<std::pair<int, std::string>> found;
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator("/dev", error)) {
            int number = video_node_number(entry.path().filename().string());
            if (number >= 0 && entry.is_character_file(error)) found.emplace_back(number, entry.path().string());
        }
        std::sort(found.begin(), found.end());
        std::vector<std::string> nodes;
        for (auto& [number, path] : found) nodes.push_back(std::move(path));
        return nodes;
    }

    int open(const std::string& path) override {
        int fd;
        do {
            fd = ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        } while (fd < 0 && errno == EINTR);
        return fd < 0 ? -errno : fd;
    }

    int ioctl(int fd, unsigned long request, void* argument) override {
        int rc;
        do {
            rc = ::ioctl(fd, request, argument);
        } while (rc < 0 && errno == EINTR);
        return rc < 0 ? -errno : 0;
    }

    void* mmap(int fd, std::size_t length, std::int64_t offset) override {
        void* address = ::mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, fd, static_cast<off_t>(offset));
        return address == MAP_FAILED ? nullptr : address;
    }

    void munmap(void* address, std::size_t length) override { ::munmap(address, length); }

    int poll(int fd, int timeout_ms) override {
        pollfd entry{fd, POLLIN, 0};
        int rc;
        do {
            rc = ::poll(&entry, 1, timeout_ms);
        } while (rc < 0 && errno == EINTR);
        if (rc < 0) return -errno;
        if (rc == 0) return 0;
        if (entry.revents & POLLIN) return 1;
        return -EIO;  // POLLERR or POLLHUP: VIDIOC_DQBUF tells what happened
    }

    void close(int fd) override { ::close(fd); }

private:
    int watch_ = -1;
    std::mutex mutex_;
    std::uint64_t changes_ = 0;
};
}  // namespace

std::shared_ptr<VideoDevices> system_video_devices() {
    return std::make_shared<SystemVideoDevices>();
}
