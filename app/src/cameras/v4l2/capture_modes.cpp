#include "cameras/v4l2/capture_modes.h"

#include <linux/videodev2.h>

#include <algorithm>
#include <optional>
#include <tuple>

namespace {
std::optional<PixelFormat> readable(std::uint32_t fourcc) {
    switch (fourcc) {
        case V4L2_PIX_FMT_MJPEG:
        case V4L2_PIX_FMT_JPEG:
            return PixelFormat::mjpeg;
        case V4L2_PIX_FMT_YUYV:
            return PixelFormat::yuyv;
        case V4L2_PIX_FMT_NV12:
            return PixelFormat::nv12;
        default:
            return std::nullopt;
    }
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

int format_preference(PixelFormat format) {
    switch (format) {
        case PixelFormat::mjpeg:
            return 0;
        case PixelFormat::yuyv:
            return 1;
        case PixelFormat::nv12:
            return 2;
    }
    return 3;
}
}  // namespace

std::uint32_t fourcc_of(PixelFormat format) {
    switch (format) {
        case PixelFormat::mjpeg:
            return V4L2_PIX_FMT_MJPEG;
        case PixelFormat::yuyv:
            return V4L2_PIX_FMT_YUYV;
        case PixelFormat::nv12:
            return V4L2_PIX_FMT_NV12;
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

CaptureModes read_capture_modes(DeviceFile& device) {
    CaptureModes modes;
    for (std::uint32_t index = 0; index < 64; ++index) {
        v4l2_fmtdesc description{};
        description.index = index;
        description.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (device.call(VIDIOC_ENUM_FMT, &description) < 0) break;
        auto format = readable(description.pixelformat);
        if (!format) {
            modes.other_formats.push_back(fourcc_text(description.pixelformat));
            continue;
        }
        for (FrameSize size : sizes_of(device, description.pixelformat)) {
            if (size.width > 0 && size.height > 0) modes.usable.push_back({*format, size});
        }
    }
    return modes;
}

CaptureMode choose_mode(const std::vector<CaptureMode>& usable, FrameSize wanted) {
    auto area = [](FrameSize s) { return static_cast<long long>(s.width) * s.height; };
    auto covers = [&](FrameSize s) { return s.width >= wanted.width && s.height >= wanted.height; };
    // How much of the wanted size a smaller frame covers, at most 1.
    auto coverage = [&](FrameSize s) {
        return std::min(1.0, static_cast<double>(s.width) / wanted.width) *
               std::min(1.0, static_cast<double>(s.height) / wanted.height);
    };
    // Better is smaller: covering sizes first, smallest area; then the best
    // coverage; then the preferred format.
    auto rank = [&](const CaptureMode& m) {
        bool whole = covers(m.size);
        return std::make_tuple(whole ? 0 : 1, whole ? area(m.size) : 0LL, whole ? 0.0 : -coverage(m.size),
                               whole ? 0LL : area(m.size), format_preference(m.format));
    };
    return *std::min_element(usable.begin(), usable.end(),
                             [&](const CaptureMode& a, const CaptureMode& b) { return rank(a) < rank(b); });
}
