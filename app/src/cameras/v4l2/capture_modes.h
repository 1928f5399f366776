#pragma once
// The pixel formats, frame sizes and frame rates a Video4Linux2 camera
// offers.
#include "cameras/capture_device.h"
#include "cameras/v4l2/device_file.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct CaptureModes {
    std::vector<CaptureMode> usable;         // with the fastest rate of each
    std::vector<std::string> other_formats;  // offered but not readable here, e.g. "H264"
    bool colour = false;                     // some format is in colour (not only greyscale, infrared or depth)
};

// Asks the device. A format whose sizes are a range rather than a list is
// offered at the usual sizes within that range.
CaptureModes read_capture_modes(DeviceFile& device);

// The fastest rate the device offers for a format at a size (frames per
// second); 0 when it does not say.
double fastest_rate(DeviceFile& device, std::uint32_t fourcc, FrameSize size);

// The V4L2 four-character code of a format, and its text ("MJPG").
std::uint32_t fourcc_of(PixelFormat format);
std::optional<PixelFormat> readable_format(std::uint32_t fourcc);
std::string fourcc_text(std::uint32_t fourcc);
