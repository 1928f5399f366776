#pragma once
// The few calls the Video4Linux2 cameras make into the kernel, behind one
// interface so that the tests can put a fake webcam behind it. Every call
// reports failure as a negative errno value instead of setting errno.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class VideoDevices {
public:
    virtual ~VideoDevices() = default;

    // The video device nodes present now ("/dev/video0", ...), in order of
    // their numbers.
    virtual std::vector<std::string> list_nodes() = 0;

    // A count that grows whenever video nodes may have appeared, gone or
    // changed their permissions since; nullopt when that cannot be watched.
    virtual std::optional<std::uint64_t> changes() = 0;

    // Opens a node for reading and writing, without blocking: a descriptor,
    // or -errno.
    virtual int open(const std::string& path) = 0;

    // ioctl(2) on an open descriptor: 0 or -errno.
    virtual int ioctl(int fd, unsigned long request, void* argument) = 0;

    // Maps `length` bytes of a driver buffer at `offset`: the address, or
    // null when the buffer cannot be mapped.
    virtual void* mmap(int fd, std::size_t length, std::int64_t offset) = 0;
    virtual void munmap(void* address, std::size_t length) = 0;

    // Waits at most timeout_ms for a frame to be ready: 1 ready, 0 timed
    // out, -errno when the descriptor reports an error (the device is gone
    // or not streaming).
    virtual int poll(int fd, int timeout_ms) = 0;

    virtual void close(int fd) = 0;
};

// The kernel's own devices under /dev.
std::shared_ptr<VideoDevices> system_video_devices();
