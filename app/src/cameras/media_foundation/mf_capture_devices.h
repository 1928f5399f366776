#pragma once
// The webcams of Windows through Media Foundation: the capture devices
// (capture_device.h) under the shared streaming cameras.
//
// Cameras are found with MFEnumDeviceSources and named by their symbolic
// link, which stays the same while a camera stays on its USB port. The
// link's short id ("0", "1", …) is kept in cameras.json in the config
// folder (camera_ids.h). Windows tells of no plugging here, so the list is
// read at most once a second; a camera already seen is not opened again to
// be listed. Where Media Foundation is missing (Windows N editions without
// the Media Feature Pack) there are no cameras, and the listing's trouble
// says why. Windows only.
#include "cameras/camera_ids.h"
#include "cameras/capture_device.h"
#include "cameras/streaming_camera.h"

#include <filesystem>
#include <map>
#include <memory>

class MfCaptureDevices final : public CaptureDevices {
public:
    explicit MfCaptureDevices(std::filesystem::path ids_file);

    CaptureDeviceList list() override;
    std::optional<std::uint64_t> changes() override { return std::nullopt; }
    std::unique_ptr<CaptureDevice> open(const CaptureDeviceInfo& device) override;
    std::string access_advice() const override;
    std::string kind() const override { return "media-foundation"; }

private:
    CameraIdStore ids_;
    std::map<std::string, CaptureDeviceInfo> seen_;  // by link: what opening it told
};

// The webcams through Media Foundation, their ids kept in the config folder.
std::unique_ptr<CameraBackend> media_foundation_cameras(CameraTimings timings);
