#pragma once
// The fake webcams (fake_webcam.h) behind the capture-device interface
// (cameras/capture_device.h), on every platform, so that the shared
// streaming camera is tested where Video4Linux2 is not (and a Media
// Foundation device set has a model of what it must do). Each device fails
// the way the interface's header describes: busy when another program holds
// the camera or another device of the set streams it, gone once it is
// pulled out (the set rewritten without it, or after unplug-after frames),
// no_bandwidth for a mode over its bus budget, timed_out when it stalls,
// automatic for a control refused under an automatic mode. Frames are paced
// at the mode's rate into four buffers, and dropped while all four wait.
//
// What the devices do is kept as events: "0 open", "0 start YUYV 640x480 30",
// "0 set focus=60", "0 stop", "0 close".
#include "cameras/capture_device.h"
#include "fake_webcam.h"

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class FakeCaptureDevices final : public CaptureDevices {
public:
    // The set, one camera a line as FakeNodeSettings reads them ("video0
    // webcam focus-at=120"); the number is the device's id.
    explicit FakeCaptureDevices(const std::string& set = {});

    // Plugs cameras in and out: the set from now on.
    void plug(const std::string& set);
    std::vector<std::string> events() const;
    // How many times list() has opened the devices.
    int listings() const;

    CaptureDeviceList list() override;
    std::optional<std::uint64_t> changes() override;
    std::unique_ptr<CaptureDevice> open(const CaptureDeviceInfo& device) override;
    std::string access_advice() const override { return "let this program use the camera"; }
    std::string kind() const override { return "fake"; }

    struct Shared;

private:
    std::shared_ptr<Shared> shared_;
};
