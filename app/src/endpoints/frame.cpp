#include "devices.h"
#include "endpoints/endpoints.h"
#include "fault.h"
#include "imaging/jpeg.h"
#include "imaging/scale.h"
#include "screen/screen_capture.h"
#include "sources/net_source.h"

namespace {
Image fitted(Image image, const SizeRequest& size) {
    FrameSize target = resolve_frame_size(size, {image.width, image.height});
    return scale_image(image, target.width, target.height);
}

std::string screen_jpeg(AppState& state, const SizeRequest& size) {
    Image shot;
    {
        std::lock_guard lock(state.screen_mutex);
        shot = state.screen->capture();
    }
    return encode_jpeg(fitted(std::move(shot), size));
}
}  // namespace

std::string frame_reply(AppState& state, std::string_view device_id, const SizeRequest& size,
                        const CancelCheck& cancelled) {
    DeviceRef device = find_device(device_id, state.cameras, *state.screen, state.sources);
    switch (device.kind) {
        case DeviceKind::camera:
            return device.camera->capture_jpeg(size);
        case DeviceKind::screen:
            return screen_jpeg(state, size);
        case DeviceKind::net:
            return net_source_jpeg(device.source, size, state.net_fetch, cancelled);
    }
    throw Fault{FaultKind::failed, "unknown kind of device"};
}
