#include "cameras/v4l2/v4l2_capture_devices.h"

#include "cameras/v4l2/capture_modes.h"
#include "cameras/v4l2/device_file.h"
#include "cameras/v4l2/v4l2_cameras.h"
#include "cameras/v4l2/v4l2_controls.h"
#include "cameras/v4l2/video_stream.h"

#include <linux/videodev2.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {
// What a call was doing, for the meaning of its errno.
enum class Call { open, setup, start, frames, controls };

// The errnos of uvcvideo, videobuf2 and the V4L2 core in the terms of
// capture_device.h.
CaptureFailure failure_of(Call call, int error) {
    // The node went with its device (ENOENT from open), or is unregistered
    // (ENODEV from every ioctl, v4l2_ioctl).
    if (error == ENODEV || error == ENOENT || error == ENXIO) return CaptureFailure::gone;
    switch (call) {
        case Call::open:
            if (error == EACCES || error == EPERM) return CaptureFailure::denied;
            if (error == EBUSY) return CaptureFailure::busy;
            break;
        case Call::setup:
            // Another program's buffers in the queue (vb2_is_busy).
            if (error == EBUSY) return CaptureFailure::busy;
            break;
        case Call::start:
            if (error == EBUSY) return CaptureFailure::busy;
            // uvc_video_start_transfer: no alternate setting of the streaming
            // interface is fast enough (EIO), or the host controller has no
            // bandwidth left for it (ENOSPC from usb_set_interface).
            if (error == EIO || error == ENOSPC) return CaptureFailure::no_bandwidth;
            break;
        case Call::frames:
            // The queue failed with the device's transfers (vb2_queue_error,
            // as uvcvideo calls it when the camera is disconnected).
            if (error == EIO) return CaptureFailure::gone;
            if (error == ETIMEDOUT) return CaptureFailure::timed_out;
            break;
        case Call::controls:
            if (error == EBUSY) return CaptureFailure::busy;
            // uvc_ctrl_clamp: a menu entry outside the menu, or one the
            // camera lacks.
            if (error == ERANGE || error == EINVAL) return CaptureFailure::bad_value;
            break;
    }
    return CaptureFailure::failed;
}

CaptureError capture_error(Call call, const DeviceError& error) {
    return CaptureError(failure_of(call, error.error), error.what());
}

class V4l2CaptureDevice final : public CaptureDevice {
public:
    V4l2CaptureDevice(VideoDevices& devices, const std::string& path) : file_(devices, path) {}

    CaptureMode start(const CaptureMode& mode) override {
        stream_.reset();
        try {
            stream_ = std::make_unique<VideoStream>(file_, mode);
            return stream_->mode();
        } catch (const DeviceError& error) {
            throw capture_error(error.call == "VIDIOC_STREAMON" ? Call::start : Call::setup, error);
        }
    }

    CapturedFrame next_frame(SteadyTime deadline) override {
        if (!stream_) throw CaptureError(CaptureFailure::failed, "the camera is not streaming");
        try {
            return stream_->next(deadline);
        } catch (const DeviceError& error) {
            throw capture_error(Call::frames, error);
        }
    }

    void stop() override { stream_.reset(); }

    std::vector<CameraControl> controls() override {
        try {
            return read_controls(file_);
        } catch (const DeviceError& error) {
            throw capture_error(Call::controls, error);
        }
    }

    ControlChange set_control(std::string_view name, std::int64_t value) override {
        try {
            return write_control(file_, name, value);
        } catch (const DeviceError& error) {
            throw capture_error(Call::controls, error);
        }
    }

    std::optional<bool> focus_settled() override {
        try {
            return focus_reached(file_);
        } catch (const DeviceError& error) {
            throw capture_error(Call::controls, error);
        }
    }

private:
    DeviceFile file_;  // declared first: the stream goes before the file closes
    std::unique_ptr<VideoStream> stream_;
};

std::string text_of(const __u8* field, std::size_t size) {
    const char* text = reinterpret_cast<const char*>(field);
    return std::string(text, strnlen(text, size));
}

std::optional<CaptureDeviceInfo> device_at(VideoDevices& devices, const std::string& path,
                                           std::vector<std::string>& denied) {
    try {
        DeviceFile device(devices, path);
        v4l2_capability capability{};
        if (device.call(VIDIOC_QUERYCAP, &capability) < 0) return std::nullopt;
        std::uint32_t caps =
            (capability.capabilities & V4L2_CAP_DEVICE_CAPS) ? capability.device_caps : capability.capabilities;
        if (!(caps & V4L2_CAP_VIDEO_CAPTURE) || !(caps & V4L2_CAP_STREAMING)) return std::nullopt;
        CaptureDeviceInfo info;
        info.link = path;
        info.id = path.substr(path.find_last_not_of("0123456789") + 1);
        info.name = text_of(capability.card, sizeof capability.card);
        if (info.name.empty()) info.name = "Camera " + info.id;
        info.identity = text_of(capability.bus_info, sizeof capability.bus_info);
        info.focusable = focus_range(device).has_value();
        CaptureModes modes = read_capture_modes(device);
        info.modes = std::move(modes.usable);
        info.other_formats = std::move(modes.other_formats);
        info.colour = modes.colour;
        return info;
    } catch (const DeviceError& error) {
        // A camera the user may not open is worth a word; one gone since
        // it was listed is not.
        if (error.error == EACCES || error.error == EPERM) denied.push_back(path + ": " + std::strerror(error.error));
        return std::nullopt;
    }
}
}  // namespace

CaptureDeviceList V4l2CaptureDevices::list() {
    CaptureDeviceList found;
    std::vector<std::string> denied;
    for (const auto& path : devices_->list_nodes()) {
        auto info = device_at(*devices_, path, denied);
        if (!info || info->id.empty()) continue;
        bool seen = std::any_of(found.devices.begin(), found.devices.end(), [&](const CaptureDeviceInfo& other) {
            return !info->identity.empty() && other.identity == info->identity && other.name == info->name;
        });
        if (!seen) found.devices.push_back(std::move(*info));
    }
    if (!denied.empty()) {
        std::string nodes;
        for (const auto& node : denied) nodes += (nodes.empty() ? "" : ", ") + node;
        found.trouble.push_back("cannot open " + nodes + " (" + access_advice() + ")");
    }
    return found;
}

std::unique_ptr<CaptureDevice> V4l2CaptureDevices::open(const CaptureDeviceInfo& device) {
    try {
        return std::make_unique<V4l2CaptureDevice>(*devices_, device.link);
    } catch (const DeviceError& error) {
        throw capture_error(Call::open, error);
    }
}

V4l2Cameras::V4l2Cameras(std::shared_ptr<VideoDevices> devices, CameraTimings timings)
    : StreamingCameras(std::make_shared<V4l2CaptureDevices>(std::move(devices)), timings, jpeg_frame_work()) {}
