#include "cameras/v4l2/video_stream.h"

#include "cameras/v4l2/capture_modes.h"

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

// Asks for the fastest rate the camera offers for the format it set (the
// driver picks its default rate when the format is set, often not the
// fastest), and returns the rate it runs at.
double set_fastest_rate(DeviceFile& device, std::uint32_t fourcc, FrameSize size) {
    v4l2_streamparm parameters{};
    parameters.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    double fastest = fastest_rate(device, fourcc, size);
    if (fastest > 0) {
        parameters.parm.capture.timeperframe = {1000, static_cast<std::uint32_t>(fastest * 1000)};
        // A driver without rates of its own refuses; it runs at whatever it runs.
        device.call(VIDIOC_S_PARM, &parameters);
    }
    parameters = {};
    parameters.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    const auto& per_frame = parameters.parm.capture.timeperframe;
    if (device.call(VIDIOC_G_PARM, &parameters) < 0 || per_frame.numerator == 0 || per_frame.denominator == 0) {
        return fastest;
    }
    return static_cast<double>(per_frame.denominator) / per_frame.numerator;
}
}  // namespace

VideoStream::VideoStream(DeviceFile& device, const CaptureMode& mode) : device_(device), mode_(mode) {
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
        mode_.fps = set_fastest_rate(device_, format.fmt.pix.pixelformat, mode_.size);

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
            void* address = device_.devices().mmap(device_.fd(), buffer.length, buffer.m.offset);
            if (!address) throw DeviceError(ENOMEM, "mmap of a frame buffer");
            buffers_.push_back({address, buffer.length});
            device_.require(VIDIOC_QBUF, &buffer, "VIDIOC_QBUF");
        }
        int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        device_.require(VIDIOC_STREAMON, &type, "VIDIOC_STREAMON");
        streaming_ = true;
        seen_empty_ = std::chrono::steady_clock::now();
    } catch (...) {
        release_buffers();
        throw;
    }
}

VideoStream::~VideoStream() {
    if (streaming_) {
        int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        device_.call(VIDIOC_STREAMOFF, &type);
    }
    release_buffers();
}

void VideoStream::release_buffers() {
    for (const auto& mapping : buffers_) device_.devices().munmap(mapping.address, mapping.length);
    buffers_.clear();
    // Without buffers the device takes another format (VIDIOC_S_FMT is
    // refused with EBUSY while a queue holds any).
    v4l2_requestbuffers release{};
    release.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    release.memory = V4L2_MEMORY_MMAP;
    device_.call(VIDIOC_REQBUFS, &release);
}

CapturedFrame VideoStream::next(SteadyTime deadline) {
    bool waited = false;
    for (;;) {
        v4l2_buffer buffer{};
        buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.memory = V4L2_MEMORY_MMAP;
        int rc = device_.call(VIDIOC_DQBUF, &buffer);
        if (rc == -EAGAIN) {
            auto now = std::chrono::steady_clock::now();
            seen_empty_ = now;
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now);
            if (left.count() <= 0) throw DeviceError(ETIMEDOUT, "waiting for a frame");
            int ready = device_.devices().poll(device_.fd(), static_cast<int>(left.count()) + 1);
            if (ready == 0) throw DeviceError(ETIMEDOUT, "waiting for a frame");
            // An error on the descriptor: dequeuing says which.
            waited = true;
            if (ready < 0) {
                v4l2_buffer probe{};
                probe.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
                probe.memory = V4L2_MEMORY_MMAP;
                int dq = device_.call(VIDIOC_DQBUF, &probe);
                if (dq == 0) {
                    buffer = probe;
                } else {
                    throw DeviceError(dq != -EAGAIN ? -dq : -ready, "VIDIOC_DQBUF");
                }
            } else {
                continue;
            }
        } else if (rc < 0) {
            throw DeviceError(-rc, "VIDIOC_DQBUF");
        }
        if (buffer.index >= buffers_.size()) throw DeviceError(EPROTO, "VIDIOC_DQBUF gave an unknown buffer");

        const Mapping& mapping = buffers_[buffer.index];
        CapturedFrame taken;
        taken.frame.format = mode_.format;
        taken.frame.width = mode_.size.width;
        taken.frame.height = mode_.size.height;
        taken.frame.bytes_per_line = bytes_per_line_;
        taken.frame.full_range = full_range_;
        // A buffer the driver flags, or hands back with no bytes in it (its
        // memory still holds an older frame), is no frame.
        taken.damaged = (buffer.flags & V4L2_BUF_FLAG_ERROR) != 0 || buffer.bytesused == 0;
        if (!taken.damaged) {
            taken.frame.bytes.assign(static_cast<const char*>(mapping.address),
                                     std::min<std::size_t>(buffer.bytesused, mapping.length));
        }
        bool stamped = (buffer.flags & V4L2_BUF_FLAG_TIMESTAMP_MASK) == V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC;
        if (stamped) {
            taken.exposed = exposure_time(buffer);
        } else {
            // Without the driver's stamp: a frame waited for arrived now; one
            // found waiting arrived after the buffers were last seen empty.
            taken.exposed = waited ? std::chrono::steady_clock::now() : seen_empty_;
        }
        rc = device_.call(VIDIOC_QBUF, &buffer);
        if (rc < 0) throw DeviceError(-rc, "VIDIOC_QBUF");
        return taken;
    }
}
