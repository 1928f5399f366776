#include "devices.h"
#include "http/endpoints.h"
#include "http/replies.h"
#include "imaging/jpeg.h"
#include "imaging/scale.h"
#include "refusal.h"
#include "screen/screen_capture.h"
#include "sources/net_source.h"

namespace {
SizeRequest requested_size(const httplib::Request& req) {
    SizeRequest size;
    if (req.has_param("width")) size.width = parse_frame_side("width", req.get_param_value("width"));
    if (req.has_param("height")) size.height = parse_frame_side("height", req.get_param_value("height"));
    return size;
}

Image fitted(Image image, const SizeRequest& size) {
    FrameSize target = resolve_frame_size(size, {image.width, image.height});
    return scale_image(image, target.width, target.height);
}

std::string screen_jpeg(AppState& state, const SizeRequest& size) {
    Image shot;
    {
        std::lock_guard lock(state.screen_mutex);
        shot = capture_screen();
    }
    return encode_jpeg(fitted(std::move(shot), size));
}

std::string net_jpeg(const DeviceRef& device, const SizeRequest& size) {
    std::string jpeg = fetch_source_jpeg(device.source);
    auto picture = decode_jpeg(jpeg);
    if (!picture) throw Refusal{502, device.id + " sent a JPEG that cannot be decoded"};
    // Without a size the camera's own bytes are passed on untouched.
    if (!size.width && !size.height) return jpeg;
    return encode_jpeg(fitted(std::move(*picture), size));
}
}  // namespace

std::string frame_reply(AppState& state, std::string_view device_id, const SizeRequest& size) {
    DeviceRef device = find_device(device_id, state.cameras, state.sources);
    switch (device.kind) {
        case DeviceKind::camera:
            return device.camera->capture_jpeg(size);
        case DeviceKind::screen:
            return screen_jpeg(state, size);
        case DeviceKind::net:
            return net_jpeg(device, size);
    }
    throw Refusal{500, "unknown kind of device"};
}

void add_frame_endpoint(httplib::Server& server, AppState& state) {
    server.Get("/api/frame.jpg", guarded([&state](const httplib::Request& req, httplib::Response& res) {
                   SizeRequest size = requested_size(req);
                   reply_bytes(res, frame_reply(state, query_device(req), size), "image/jpeg");
               }));
}
