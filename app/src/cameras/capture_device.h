#pragma once
// The few things a streaming camera asks of the operating system's capture
// devices: Video4Linux2 on Linux (cameras/v4l2/), Media Foundation on
// Windows, and fakes in the tests. Everything above it is shared by every
// platform (streaming_camera.h): which mode to stream in, the warm-up, the
// focus sweep, keeping the stream between requests, JPEG, and the words the
// user reads.
//
// Errors. A call that fails throws CaptureError: the failure in the terms
// below, and the device's own words in what() (the call and its errno or
// HRESULT). Only set_control throws anything else: a bad-argument Fault,
// worded by unknown_control() or out_of_range() (camera_controls.h), for a
// name the device does not offer or a value outside the range it reported.
//   busy          Another program holds the device: EBUSY from VIDIOC_S_FMT,
//                 VIDIOC_REQBUFS or VIDIOC_STREAMON;
//                 MF_E_HW_MFT_FAILED_START_STREAMING from the first
//                 ReadSample, MF_E_VIDEO_RECORDING_DEVICE_PREEMPTED.
//   gone          The device is not there any more: unplugged, or its driver
//                 let it go. ENODEV, ENOENT or ENXIO from any call, EIO from
//                 VIDIOC_DQBUF or VIDIOC_QBUF (the queue failed with the
//                 device's transfers), MF_E_VIDEO_RECORDING_DEVICE_INVALIDATED.
//                 A stream that reports it is over; opening the device again
//                 tells whether it came back.
//   timed_out     next_frame: no frame by the deadline.
//   denied        This user may not use the device: EACCES or EPERM from
//                 open(2); E_ACCESSDENIED from IMFActivate::ActivateObject
//                 when the privacy settings keep desktop apps from the camera.
//   unsupported   The device cannot do what was asked (a mode it does not
//                 offer).
//   no_bandwidth  The bus cannot carry this mode now (EIO or ENOSPC from
//                 VIDIOC_STREAMON): a smaller or compressed mode may fit.
//   automatic     set_control: the device refuses the control while one of
//                 its automatic modes is on (EACCES from VIDIOC_S_CTRL; a Set
//                 of IAMCameraControl or IAMVideoProcAmp refused while the
//                 property is in its Auto mode). `ruled_by` names that mode's
//                 control ("auto_exposure") when it is known and on.
//   bad_value     set_control: the device refuses the value although it lies
//                 within the range (ERANGE or EINVAL; E_INVALIDARG).
//   failed        Anything else.
// After a failed call the device stays open and usable: after a failed
// start() it is stopped and start() may be called again with another mode.
// By call:
//   list()          never throws: a device the user may not open goes into
//                   `trouble`, one that went away meanwhile is left out.
//   open()          gone, denied, busy, failed.
//   start()         busy, gone, unsupported, no_bandwidth, failed.
//   next_frame()    timed_out, gone, busy (where the system tells of another
//                   program's hold only when frames are asked for), failed.
//   stop()          never throws.
//   controls(), focus_settled()   gone, busy, failed.
//   set_control()   automatic, bad_value, gone, busy, failed.
#include "cameras/camera.h"
#include "cameras/camera_controls.h"
#include "imaging/camera_frame.h"
#include "imaging/frame_size.h"

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

using SteadyTime = std::chrono::steady_clock::time_point;

// A way the device can stream: a pixel format at a size.
struct CaptureMode {
    PixelFormat format = PixelFormat::mjpeg;
    FrameSize size;
    double fps = 0;  // the fastest rate the device offers in this mode; 0 when it does not say
};

enum class CaptureFailure { busy, gone, timed_out, denied, unsupported, no_bandwidth, automatic, bad_value, failed };

struct CaptureError : std::runtime_error {
    CaptureError(CaptureFailure failure, const std::string& what, std::string ruled_by = {})
        : std::runtime_error(what), failure(failure), ruled_by(std::move(ruled_by)) {}
    CaptureFailure failure;
    std::string ruled_by;  // automatic: the control of the automatic mode, when known
};

// A device as listing found it.
struct CaptureDeviceInfo {
    std::string id;                  // short and stable across restarts: what the client names it by
    std::string name;                // what the device calls itself
    std::string link;                // what open() needs: "/dev/video2", a symbolic link
    std::string identity;            // differs when another device (or the same one plugged in again) takes the link
    bool focusable = false;          // it has an absolute focus control
    bool colour = true;              // false when it films only in greyscale or infrared
    std::vector<CaptureMode> modes;  // the modes the app can read, with their rates
    std::vector<std::string> other_formats;  // offered but not readable here, e.g. "H264"
};

struct CaptureDeviceList {
    std::vector<CaptureDeviceInfo> devices;
    // What kept devices out of the list, for the user ("cannot open
    // /dev/video0: Permission denied (is this user in the video group?)").
    std::vector<std::string> trouble;
};

// One frame as the device delivered it.
struct CapturedFrame {
    CameraFrame frame;     // its bytes, format, size, bytes per line and range
    SteadyTime exposed;    // when it was exposed, or a moment before that (never after)
    bool damaged = false;  // the device says its bytes are incomplete, or it came with none
};

// One open device. Used by one thread at a time.
class CaptureDevice {
public:
    virtual ~CaptureDevice() = default;

    // Starts streaming in `mode` at the fastest rate the device offers for
    // it, and returns the mode as the device set it (its size may differ
    // within the device's steps; fps is the rate it runs at, 0 if unknown).
    virtual CaptureMode start(const CaptureMode& mode) = 0;

    // The oldest frame not yet taken, waiting for one until `deadline`
    // (timed_out after it). Frames that arrived while nobody asked may be
    // among the ones waiting; `exposed` tells them apart.
    virtual CapturedFrame next_frame(SteadyTime deadline) = 0;

    // Stops streaming, if it does; never throws.
    virtual void stop() = 0;

    // Every control the device offers under the app's names
    // (camera_controls.h), with its range, step and value now.
    virtual std::vector<CameraControl> controls() = 0;

    // Sets a control by its app name and returns what it held before and
    // holds now. The automatic mode that would override a manual setting is
    // switched off first: autofocus for focus, auto_exposure for exposure,
    // auto_white_balance for white_balance. auto_exposure takes 0 (manual)
    // or 1 (the device's automatic mode).
    virtual ControlChange set_control(std::string_view name, std::int64_t value) = 0;

    // Whether continuous autofocus has reached focus, where the device
    // reports it; nullopt where it does not (the picture then tells).
    virtual std::optional<bool> focus_settled() = 0;
};

// The devices of one kind the system has.
class CaptureDevices {
public:
    virtual ~CaptureDevices() = default;

    // The video capture devices present now. May open each of them, so it
    // is called only when changes() says the set may have changed.
    virtual CaptureDeviceList list() = 0;

    // A count that grows whenever devices may have come or gone (a hot-plug
    // notification); nullopt when the system cannot tell, and then list()
    // is called at most once a second.
    virtual std::optional<std::uint64_t> changes() = 0;

    virtual std::unique_ptr<CaptureDevice> open(const CaptureDeviceInfo& device) = 0;

    // What to check when the system does not let the user at a device
    // ("is this user in the video group?").
    virtual std::string access_advice() const = 0;

    // The kind of camera, as /health names it ("video4linux").
    virtual std::string kind() const = 0;
};
