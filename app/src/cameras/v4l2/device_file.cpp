#include "cameras/v4l2/device_file.h"

#include <cstring>

DeviceError::DeviceError(int error, const std::string& call)
    : std::runtime_error(call + ": " + std::strerror(error)), error(error), call(call) {}

DeviceFile::DeviceFile(VideoDevices& devices, const std::string& path) : devices_(devices), fd_(devices.open(path)) {
    if (fd_ < 0) throw DeviceError(-fd_, "open " + path);
}

DeviceFile::~DeviceFile() {
    devices_.close(fd_);
}

void DeviceFile::require(unsigned long request, void* argument, const char* what) {
    int rc = call(request, argument);
    if (rc < 0) throw DeviceError(-rc, what);
}
