#include "cameras/frame_work.h"

FrameWork jpeg_frame_work() {
    FrameWork work;
    work.look = [](const CameraFrame& frame, bool sharpness) -> std::optional<FrameLook> {
        auto level = frame_level(frame);
        if (!level) return std::nullopt;
        FrameLook look{*level, 0};
        if (sharpness) {
            auto measured = frame_sharpness(frame);
            if (!measured) return std::nullopt;
            look.sharpness = *measured;
        }
        return look;
    };
    work.jpeg = [](const CameraFrame& frame, const std::optional<FrameRegion>& crop, FrameSize size) {
        return frame_reply_jpeg(frame, crop, size);
    };
    return work;
}
