#pragma once
// The Video4Linux2 capture devices (capture_device.h) behind the few calls
// of video_devices.h.
//
// Every /dev/videoN node that captures video by streaming is a candidate;
// metadata, output and other nodes are skipped. Nodes of one camera (same
// bus position and name) count once, as their lowest-numbered node. A
// camera's id is the N of that node: the kernel keeps the number while the
// camera stays plugged in, so ids stay the same across restarts of the app,
// and a camera plugged in later never renumbers the others.
#include "cameras/capture_device.h"
#include "cameras/v4l2/video_devices.h"

#include <memory>

class V4l2CaptureDevices final : public CaptureDevices {
public:
    explicit V4l2CaptureDevices(std::shared_ptr<VideoDevices> devices) : devices_(std::move(devices)) {}

    CaptureDeviceList list() override;
    std::optional<std::uint64_t> changes() override { return devices_->changes(); }
    std::unique_ptr<CaptureDevice> open(const CaptureDeviceInfo& device) override;
    std::string access_advice() const override { return "is this user in the video group?"; }
    std::string kind() const override { return "video4linux"; }

private:
    std::shared_ptr<VideoDevices> devices_;
};
