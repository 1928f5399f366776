#pragma once
// What a streaming camera does with the pixels of its frames: judge them
// while the camera settles and a sweep measures, and make the reply. The
// app's own work is libjpeg-turbo's (jpeg_frame_work); a build or a test
// without it hands in other work.
#include "imaging/camera_frame.h"
#include "imaging/frame_size.h"

#include <functional>
#include <optional>
#include <string>

struct FrameLook {
    double level = 0;      // mean brightness, 0 (black) to 255
    double sharpness = 0;  // variance of the Laplacian at about 640 pixels across; 0 when not asked for
};

struct FrameWork {
    // How bright the frame is and, when asked, how sharp; nullopt when the
    // frame cannot be read (cut short, or readable only with a decoder's
    // warning).
    std::function<std::optional<FrameLook>(const CameraFrame& frame, bool sharpness)> look;
    // The reply: the frame cropped to `crop` (in the frame's pixels) when
    // given, at exactly `size`, as a JPEG; empty when it cannot be read.
    std::function<std::string(const CameraFrame& frame, const std::optional<FrameRegion>& crop, FrameSize size)> jpeg;
};

// Through imaging/camera_frame.h (libjpeg-turbo).
FrameWork jpeg_frame_work();
