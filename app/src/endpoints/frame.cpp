#include "devices.h"
#include "endpoints/endpoints.h"
#include "fault.h"
#include "imaging/jpeg.h"
#include "imaging/scale.h"
#include "sources/net_source.h"

namespace {
struct FramePicture {
    std::string jpeg;
    FrameSize source;                   // the device's full size; 0x0 when unknown
    std::optional<FrameRegion> region;  // what the picture shows of it, when not all
};

// The query of GET /frame.jpg: the device, the size of the picture and the
// region of the device it shows.
struct FrameQuery {
    std::string device;
    SizeRequest size;
};

FrameQuery parse_frame_query(const HttpRequest& request) {
    FrameQuery query;
    query.device = query_value(request, "device");
    int given = 0;
    for (const char* name : {"x", "y", "w", "h"}) given += has_query(request, name) ? 1 : 0;
    if (given != 0 && given != 4) {
        throw Fault{FaultKind::bad_argument, "a region needs all four of x, y, w and h (or none of them)"};
    }
    if (given == 4) {
        query.size.region = parse_frame_region(query_value(request, "x"), query_value(request, "y"),
                                               query_value(request, "w"), query_value(request, "h"));
    }
    // Screens and regions go up to the decoder's limit; cameras stay within
    // what they are made for. Known from the id alone, so that a bad size is
    // refused before any device is looked for.
    bool screen = parse_screen_device(query.device).has_value();
    bool camera = !screen && query.device.rfind("net:", 0) != 0;
    int max_side = screen || (query.size.region && !camera) ? max_screen_side : max_frame_side;
    if (has_query(request, "width"))
        query.size.width = parse_frame_side("width", query_value(request, "width"), max_side);
    if (has_query(request, "height")) {
        query.size.height = parse_frame_side("height", query_value(request, "height"), max_side);
    }
    return query;
}

// The picture at the asked size; without one, at its own (within the
// decoder's limit, so that the client can always read it).
std::string screen_jpeg(const PixelView& pixels, const SizeRequest& size) {
    FrameSize own{pixels.width, pixels.height};
    if (!size.width && !size.height) {
        FrameSize fitted = fit_within(own, max_screen_side);
        if (fitted == own) return encode_jpeg(pixels);
        return encode_jpeg(scale_pixels(pixels, fitted.width, fitted.height));
    }
    FrameSize target = resolve_frame_size({size.width, size.height}, own, max_screen_side);
    if (target == own) return encode_jpeg(pixels);
    return encode_jpeg(scale_pixels(pixels, target.width, target.height));
}

FramePicture screen_picture(AppState& state, const DeviceRef& device, const SizeRequest& size,
                            const CancelCheck& cancelled) {
    FramePicture picture;
    ScreenRequest request{device.screen, size.region, device.id, cancelled};
    state.screen->capture(request, [&](const ScreenShot& shot) {
        picture.jpeg = screen_jpeg(shot.pixels, size);
        picture.source = shot.source;
        picture.region = shot.region;
    });
    return picture;
}

FramePicture camera_picture(const DeviceRef& device, SizeRequest size) {
    FramePicture picture;
    picture.source = device.camera->default_size();
    // The camera crops to the region (clipped here, against the size it
    // gives without one) before it scales.
    if (size.region) {
        size.region = clip_region(*size.region, picture.source, device.id);
        picture.region = size.region;
    }
    picture.jpeg = device.camera->capture_jpeg(size);
    return picture;
}

FramePicture net_picture(AppState& state, const DeviceRef& device, const SizeRequest& size,
                         const CancelCheck& cancelled) {
    NetPicture got = net_source_picture(device.source, size, state.net_fetch, cancelled);
    return {std::move(got.jpeg), got.source, got.region};
}
}  // namespace

Reply frame_reply(AppState& state, const HttpRequest& request) {
    FrameQuery query = parse_frame_query(request);
    DeviceRef device = find_device(query.device, state.cameras, *state.screen, state.sources);
    FramePicture picture;
    switch (device.kind) {
        case DeviceKind::camera:
            picture = camera_picture(device, query.size);
            break;
        case DeviceKind::screen:
            picture = screen_picture(state, device, query.size, request.cancelled);
            break;
        case DeviceKind::net:
            picture = net_picture(state, device, query.size, request.cancelled);
            break;
    }
    Reply reply = bytes_reply(std::move(picture.jpeg), "image/jpeg");
    if (picture.source.width > 0 && picture.source.height > 0) {
        reply.headers.push_back(
            {"X-Vistrel-Source", std::to_string(picture.source.width) + "x" + std::to_string(picture.source.height)});
    }
    if (picture.region) reply.headers.push_back({"X-Vistrel-Region", region_text(*picture.region)});
    return reply;
}
