#pragma once
// A frame in the pixel format a camera delivered it: Motion-JPEG, packed
// YUV 4:2:2 (YUYV), YUV 4:2:0 with interleaved chroma (NV12), or greyscale
// (the infrared cameras of face logins), and what libjpeg-turbo makes of it.
#include "imaging/frame_size.h"
#include "imaging/image.h"

#include <optional>
#include <string>

enum class PixelFormat { mjpeg, yuyv, nv12, grey };

struct CameraFrame {
    PixelFormat format = PixelFormat::mjpeg;
    int width = 0;
    int height = 0;
    int bytes_per_line = 0;   // of the luma plane (YUYV: of the packed line)
    bool full_range = false;  // YUV levels 0..255; cameras usually send 16..235
    std::string bytes;
};

// The frame as a JPEG of its own size. Motion-JPEG passes through unchanged
// except for the Huffman tables it may lack; YUV is compressed as it is,
// without a detour through RGB. Empty when the frame cannot be read, or is
// a Motion-JPEG frame that decodes only with a warning (data lost on the
// way).
std::string frame_jpeg(const CameraFrame& frame, int quality = 90);

// The frame as a picture; nullopt when it cannot be read (warnings
// included). A Motion-JPEG frame can be read at a half, quarter or eighth of
// its size (shrink 2, 4, 8) for much less work; YUV frames always come whole.
std::optional<Image> frame_image(const CameraFrame& frame, int shrink = 1);

// The mean brightness, 0 (black) to 255, estimated cheaply from a sample of
// the frame; nullopt when the frame cannot be read.
std::optional<double> frame_level(const CameraFrame& frame);

// How sharp the frame is: the variance of the Laplacian of its grey levels
// at about 640 pixels across (where every edge that matters still shows, at
// a fraction of the work). Nullopt when the frame cannot be read.
std::optional<double> frame_sharpness(const CameraFrame& frame);

// Brightness and sharpness at once, for a frame judged on both (one decode
// of a Motion-JPEG frame instead of two).
struct FrameMeasures {
    double level = 0;
    double sharpness = 0;
};
std::optional<FrameMeasures> frame_measures(const CameraFrame& frame);

// The reply for a frame: cropped to `crop` (in the frame's pixels) when
// given, at exactly `size`, as a JPEG. A Motion-JPEG frame asked for whole at
// its own size passes through (frame_jpeg); otherwise it is decoded at the
// smallest scale that still covers `size`. Empty when the frame cannot be
// read.
std::string frame_reply_jpeg(const CameraFrame& frame, const std::optional<FrameRegion>& crop, FrameSize size);
