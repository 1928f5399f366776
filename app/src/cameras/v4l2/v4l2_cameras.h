#pragma once
// The webcams plugged in now, found afresh at every listing.
//
// Every /dev/videoN node that captures video by streaming is a candidate;
// metadata, output and other nodes are skipped. Nodes of one camera (same
// bus position and name) count once, as their lowest-numbered node. A
// camera's id is the N of that node: the kernel keeps the number while the
// camera stays plugged in, so ids stay the same across restarts of the app,
// and a camera plugged in later never renumbers the others.
#include "cameras/camera.h"
#include "cameras/v4l2/v4l2_camera.h"
#include "cameras/v4l2/video_devices.h"

#include <map>
#include <memory>
#include <mutex>
#include <vector>

// The cameras among the device nodes, in order of their ids. Nodes the user
// may not open are named in `denied` ("/dev/video0: Permission denied").
std::vector<CameraNode> find_camera_nodes(VideoDevices& devices, std::vector<std::string>& denied);

class V4l2Cameras final : public CameraBackend {
public:
    V4l2Cameras(std::shared_ptr<VideoDevices> devices, CameraTimings timings)
        : devices_(std::move(devices)), timings_(timings) {}

    std::vector<std::shared_ptr<Camera>> list() override;
    std::string trouble() override;

private:
    std::shared_ptr<VideoDevices> devices_;
    CameraTimings timings_;
    std::mutex mutex_;
    std::map<std::string, std::shared_ptr<V4l2Camera>> known_;  // by node path
    std::vector<std::string> denied_;                           // at the last listing
};
