#pragma once
// The pixel formats and frame sizes a camera offers, and the choice among
// them for a wanted size.
#include "cameras/v4l2/device_file.h"
#include "imaging/camera_frame.h"
#include "imaging/frame_size.h"

#include <cstdint>
#include <string>
#include <vector>

struct CaptureMode {
    PixelFormat format = PixelFormat::mjpeg;
    FrameSize size;
};

struct CaptureModes {
    std::vector<CaptureMode> usable;
    std::vector<std::string> other_formats;  // offered but not readable here, e.g. "H264"
};

// Asks the device. A format whose sizes are a range rather than a list is
// offered at the usual sizes within that range.
CaptureModes read_capture_modes(DeviceFile& device);

// The mode for a frame of `wanted` size: the smallest size that covers it
// (so the picture is only ever shrunk), else the one that comes closest to
// covering it; at that size Motion-JPEG when offered, else YUYV, else NV12.
// `usable` must not be empty.
CaptureMode choose_mode(const std::vector<CaptureMode>& usable, FrameSize wanted);

// The V4L2 four-character code of a format, and its text ("MJPG").
std::uint32_t fourcc_of(PixelFormat format);
std::string fourcc_text(std::uint32_t fourcc);
