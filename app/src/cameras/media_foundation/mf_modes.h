#pragma once
// The ways a Media Foundation camera can stream, read from the media types
// its first video stream offers natively. Windows only.
#include "cameras/capture_device.h"

#include <mfidl.h>

#include <optional>
#include <string>
#include <vector>

// One native media type as the app sees it: a readable mode, or a format it
// cannot read ("H264", "RGB24"), by name.
struct MfMediaTypeFacts {
    std::optional<CaptureMode> mode;
    std::string other_format;  // when `mode` is nullopt
    bool colour = true;        // false for greyscale (infrared cameras)
    bool full_range = false;   // YUV levels 0..255
    long stride = 0;           // bytes per line of the (luma) plane; 0 when the type does not say
};

MfMediaTypeFacts media_type_facts(IMFMediaType* type);

struct MfModes {
    std::vector<CaptureMode> usable;  // one per format and size, at its fastest rate
    std::vector<std::string> other_formats;
    bool colour = false;
};

// The modes of the source's first video stream. Throws CaptureError.
MfModes read_modes(IMFMediaSource* source);

// The bytes of a frame `size` in `format` with `stride` bytes per line of the
// (luma) plane: what a whole frame needs at least. 0 for Motion-JPEG.
std::size_t frame_bytes(PixelFormat format, FrameSize size, long stride);

// The stride a format has when the media type gives none.
long default_stride(PixelFormat format, int width);
