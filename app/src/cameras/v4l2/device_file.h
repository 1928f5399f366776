#pragma once
// One open video device node, closed when it goes out of scope, and the
// failure of a call on it.
#include "cameras/v4l2/video_devices.h"

#include <stdexcept>
#include <string>

// A call on a device failed; `error` is the errno value.
struct DeviceError : std::runtime_error {
    DeviceError(int error, const std::string& call);
    int error;
    std::string call;  // "VIDIOC_STREAMON", "open /dev/video2"
};

class DeviceFile {
public:
    // Throws DeviceError when the node cannot be opened.
    DeviceFile(VideoDevices& devices, const std::string& path);
    ~DeviceFile();
    DeviceFile(const DeviceFile&) = delete;
    DeviceFile& operator=(const DeviceFile&) = delete;

    VideoDevices& devices() const { return devices_; }
    int fd() const { return fd_; }

    // An ioctl: 0, or -errno for the caller to judge.
    int call(unsigned long request, void* argument) { return devices_.ioctl(fd_, request, argument); }
    // An ioctl that must succeed; throws DeviceError naming `what`.
    void require(unsigned long request, void* argument, const char* what);

private:
    VideoDevices& devices_;
    int fd_;
};
