#include "cameras/v4l2/video_stream.h"

#include <linux/videodev2.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace {
// Enough for the camera to fill one while the app reads another, few
// enough that a frame waiting in them is never old.
constexpr unsigned buffer_count = 4;

SteadyTime exposure_time(const v4l2_buffer& buffer) {
    auto since_boot =
        std::chrono::seconds(buffer.timestamp.tv_sec) + std::chrono::microseconds(buffer.timestamp.tv_usec);
    return SteadyTime(std::chrono::duration_cast<SteadyTime::duration>(since_boot));
}
}  // namespace

VideoStream::VideoStream(VideoDevices& devices, const std::string& path, CaptureMode mode)
    : device_(devices, path), asked_(mode), mode_(mode) {
    try {
        v4l2_format format{};
        format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        format.fmt.pix.width = static_cast<std::uint32_t>(mode.size.width);
        format.fmt.pix.height = static_cast<std::uint32_t>(mode.size.height);
        format.fmt.pix.pixelformat = fourcc_of(mode.format);
        format.fmt.pix.field = V4L2_FIELD_NONE;
        device_.require(VIDIOC_S_FMT, &format, "VIDIOC_S_FMT");
        if (format.fmt.pix.pixelformat != fourcc_of(mode.format)) {
            throw DeviceError(EPROTO, "the camera switched to " + fourcc_text(format.fmt.pix.pixelformat));
        }
        mode_.size = {static_cast<int>(format.fmt.pix.width), static_cast<int>(format.fmt.pix.height)};
        bytes_per_line_ = static_cast<int>(format.fmt.pix.bytesperline);
        full_range_ = format.fmt.pix.quantization == V4L2_QUANTIZATION_FULL_RANGE;

        v4l2_requestbuffers request{};
        request.count = buffer_count;
        request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        request.memory = V4L2_MEMORY_MMAP;
        device_.require(VIDIOC_REQBUFS, &request, "VIDIOC_REQBUFS");
        if (request.count == 0) throw DeviceError(ENOMEM, "VIDIOC_REQBUFS gave no buffers");
        for (unsigned i = 0; i < request.count; ++i) {
            v4l2_buffer buffer{};
            buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
            buffer.memory = V4L2_MEMORY_MMAP;
            buffer.index = i;
            device_.require(VIDIOC_QUERYBUF, &buffer, "VIDIOC_QUERYBUF");
            void* address = devices.mmap(device_.fd(), buffer.length, buffer.m.offset);
            if (!address) throw DeviceError(ENOMEM, "mmap of a frame buffer");
            buffers_.push_back({address, buffer.length});
            device_.require(VIDIOC_QBUF, &buffer, "VIDIOC_QBUF");
        }
        int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        device_.require(VIDIOC_STREAMON, &type, "VIDIOC_STREAMON");
        streaming_ = true;
        started_ = std::chrono::steady_clock::now();
    } catch (...) {
        for (const auto& mapping : buffers_) devices.munmap(mapping.address, mapping.length);
        throw;
    }
}

VideoStream::~VideoStream() {
    if (streaming_) {
        int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        device_.call(VIDIOC_STREAMOFF, &type);
    }
    for (const auto& mapping : buffers_) device_.devices().munmap(mapping.address, mapping.length);
    v4l2_requestbuffers release{};
    release.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    release.memory = V4L2_MEMORY_MMAP;
    device_.call(VIDIOC_REQBUFS, &release);
}

std::optional<CameraFrame> VideoStream::take(SteadyTime not_before, bool& stale, SteadyTime& exposed) {
    v4l2_buffer buffer{};
    buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    buffer.memory = V4L2_MEMORY_MMAP;
    int rc = device_.call(VIDIOC_DQBUF, &buffer);
    if (rc == -EAGAIN) return std::nullopt;
    if (rc < 0) throw DeviceError(-rc, "VIDIOC_DQBUF");
    if (buffer.index >= buffers_.size()) throw DeviceError(EPROTO, "VIDIOC_DQBUF gave an unknown buffer");
    ++frames_taken_;

    const Mapping& mapping = buffers_[buffer.index];
    std::size_t used = buffer.bytesused > 0 ? buffer.bytesused : mapping.length;
    CameraFrame frame;
    frame.format = mode_.format;
    frame.width = mode_.size.width;
    frame.height = mode_.size.height;
    frame.bytes_per_line = bytes_per_line_;
    frame.full_range = full_range_;
    bool damaged = (buffer.flags & V4L2_BUF_FLAG_ERROR) != 0;
    timestamps_known_ = (buffer.flags & V4L2_BUF_FLAG_TIMESTAMP_MASK) == V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC;
    // Without the driver's stamp, the time it arrived stands in for it.
    exposed = timestamps_known_ ? exposure_time(buffer) : std::chrono::steady_clock::now();
    stale = damaged || exposed < not_before;
    if (!stale) frame.bytes.assign(static_cast<const char*>(mapping.address), std::min(used, mapping.length));

    rc = device_.call(VIDIOC_QBUF, &buffer);
    if (rc < 0) throw DeviceError(-rc, "VIDIOC_QBUF");
    return frame;
}

void VideoStream::wait_for_frame(SteadyTime deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) throw DeviceError(ETIMEDOUT, "waiting for a frame");
    int rc = device_.devices().poll(device_.fd(), static_cast<int>(left.count()) + 1);
    if (rc == 0) throw DeviceError(ETIMEDOUT, "waiting for a frame");
    if (rc < 0) {
        // The descriptor reports an error; dequeuing says which.
        v4l2_buffer buffer{};
        buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.memory = V4L2_MEMORY_MMAP;
        int dq = device_.call(VIDIOC_DQBUF, &buffer);
        throw DeviceError(dq < 0 && dq != -EAGAIN ? -dq : -rc, "waiting for a frame");
    }
}

std::optional<CameraFrame> VideoStream::next_frame(SteadyTime not_before, std::chrono::milliseconds timeout,
                                                   FrameBudget* budget) {
    bool stale = false;
    SteadyTime exposed;
    // Whether the frame just taken ends the budget.
    auto spent = [&] {
        if (!budget) return false;
        if (exposed < budget->counted_from) {
            ++budget->discarded;
            return false;
        }
        return --budget->left <= 0;
    };
    // Without the driver's stamps, whatever already waits in the buffers is
    // older than this request, whenever it is taken.
    if (!timestamps_known_) {
        const SteadyTime never = SteadyTime::max();
        while (take(never, stale, exposed)) {
            if (budget) ++budget->discarded;
        }
    }
    // One bound for the whole wait, so that a camera sending only damaged
    // or old frames is given up like one sending none.
    auto deadline = std::max(std::chrono::steady_clock::now(), not_before) + timeout;
    for (;;) {
        auto frame = take(not_before, stale, exposed);
        if (!frame) {
            wait_for_frame(deadline);
            continue;
        }
        bool last = spent();
        if (!stale) return frame;
        if (last) return std::nullopt;
        if (std::chrono::steady_clock::now() >= deadline) throw DeviceError(ETIMEDOUT, "waiting for a usable frame");
    }
}
