#include "cameras/v4l2/capture_modes.h"

#include <linux/videodev2.h>

#include <algorithm>

namespace {
// Greyscale, infrared and depth formats: a camera offering only these is the
// face-login camera of a laptop, or a depth camera, not a webcam.
bool monochrome(std::uint32_t fourcc) {
    for (std::uint32_t mono : {V4L2_PIX_FMT_GREY, V4L2_PIX_FMT_Y10, V4L2_PIX_FMT_Y12, V4L2_PIX_FMT_Y16,
                               V4L2_PIX_FMT_Y10BPACK, V4L2_PIX_FMT_Y10P, V4L2_PIX_FMT_Y8I, V4L2_PIX_FMT_Y12I,
                               V4L2_PIX_FMT_Z16, V4L2_PIX_FMT_INZI, V4L2_PIX_FMT_CNF4}) {
        if (fourcc == mono) return true;
    }
    return false;
}

// Sizes worth trying within a continuous or stepwise range.
const FrameSize common_sizes[] = {{320, 240},  {640, 360},   {640, 480},   {800, 600},  {1280, 720},
                                  {1280, 960}, {1920, 1080}, {2560, 1440}, {3840, 2160}};

std::vector<FrameSize> sizes_of(DeviceFile& device, std::uint32_t fourcc) {
    std::vector<FrameSize> sizes;
    for (std::uint32_t index = 0; index < 256; ++index) {
        v4l2_frmsizeenum size{};
        size.index = index;
        size.pixel_format = fourcc;
        if (device.call(VIDIOC_ENUM_FRAMESIZES, &size) < 0) break;
        if (size.type == V4L2_FRMSIZE_TYPE_DISCRETE) {
            sizes.push_back({static_cast<int>(size.discrete.width), static_cast<int>(size.discrete.height)});
            continue;
        }
        const auto& range = size.stepwise;
        for (FrameSize common : common_sizes) {
            auto w = static_cast<std::uint32_t>(common.width), h = static_cast<std::uint32_t>(common.height);
            if (w >= range.min_width && w <= range.max_width && h >= range.min_height && h <= range.max_height) {
                sizes.push_back(common);
            }
        }
        sizes.push_back({static_cast<int>(range.max_width), static_cast<int>(range.max_height)});
        break;
    }
    return sizes;
}

double rate_of(const v4l2_fract& interval) {
    return interval.numerator == 0 || interval.denominator == 0
               ? 0.0
               : static_cast<double>(interval.denominator) / interval.numerator;
}
}  // namespace

std::optional<PixelFormat> readable_format(std::uint32_t fourcc) {
    switch (fourcc) {
        case V4L2_PIX_FMT_MJPEG:
        case V4L2_PIX_FMT_JPEG:
            return PixelFormat::mjpeg;
        case V4L2_PIX_FMT_YUYV:
            return PixelFormat::yuyv;
        case V4L2_PIX_FMT_NV12:
            return PixelFormat::nv12;
        case V4L2_PIX_FMT_GREY:
            return PixelFormat::grey;
        default:
            return std::nullopt;
    }
}

std::uint32_t fourcc_of(PixelFormat format) {
    switch (format) {
        case PixelFormat::mjpeg:
            return V4L2_PIX_FMT_MJPEG;
        case PixelFormat::yuyv:
            return V4L2_PIX_FMT_YUYV;
        case PixelFormat::nv12:
            return V4L2_PIX_FMT_NV12;
        case PixelFormat::grey:
            return V4L2_PIX_FMT_GREY;
    }
    return 0;
}

std::string fourcc_text(std::uint32_t fourcc) {
    std::string text;
    for (int shift = 0; shift < 32; shift += 8) {
        char c = static_cast<char>((fourcc >> shift) & 0xFF);
        if (c != ' ' && c != '\0') text += (c >= 0x21 && c <= 0x7E) ? c : '?';
    }
    return text;
}

double fastest_rate(DeviceFile& device, std::uint32_t fourcc, FrameSize size) {
    double fastest = 0;
    for (std::uint32_t index = 0; index < 64; ++index) {
        v4l2_frmivalenum interval{};
        interval.index = index;
        interval.pixel_format = fourcc;
        interval.width = static_cast<std::uint32_t>(size.width);
        interval.height = static_cast<std::uint32_t>(size.height);
        if (device.call(VIDIOC_ENUM_FRAMEINTERVALS, &interval) < 0) break;
        if (interval.type == V4L2_FRMIVAL_TYPE_DISCRETE) {
            fastest = std::max(fastest, rate_of(interval.discrete));
            continue;
        }
        // Continuous or stepwise: the shortest interval is the fastest rate.
        fastest = std::max(fastest, rate_of(interval.stepwise.min));
        break;
    }
    return fastest;
}

CaptureModes read_capture_modes(DeviceFile& device) {
    CaptureModes modes;
    for (std::uint32_t index = 0; index < 64; ++index) {
        v4l2_fmtdesc description{};
        description.index = index;
        description.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (device.call(VIDIOC_ENUM_FMT, &description) < 0) break;
        if (!monochrome(description.pixelformat)) modes.colour = true;
        auto format = readable_format(description.pixelformat);
        if (!format) {
            modes.other_formats.push_back(fourcc_text(description.pixelformat));
            continue;
        }
        for (FrameSize size : sizes_of(device, description.pixelformat)) {
            if (size.width > 0 && size.height > 0) {
                modes.usable.push_back({*format, size, fastest_rate(device, description.pixelformat, size)});
            }
        }
    }
    return modes;
}
