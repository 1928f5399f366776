#include "cameras/frame_work.h"

FrameWork jpeg_frame_work() {
    FrameWork work;
    work.look = [](const CameraFrame& frame, bool sharpness) -> std::optional<FrameLook> {
        if (sharpness) {
            auto measured = frame_measures(frame);
            if (!measured) return std::nullopt;
            return FrameLook{measured->level, measured->sharpness};
        }
        auto level = frame_level(frame);
        if (!level) return std::nullopt;
        return FrameLook{*level, 0};
    };
    work.jpeg = [](const CameraFrame& frame, const std::optional<FrameRegion>& crop, FrameSize size) {
        return frame_reply_jpeg(frame, crop, size);
    };
    return work;
}
