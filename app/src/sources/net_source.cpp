#include "sources/net_source.h"

#include "fault.h"
#include "imaging/jpeg.h"
#include "imaging/scale.h"
#include "sources/http_url.h"
#include "sources/self_address.h"

namespace {
std::string megabytes(std::size_t bytes) {
    return std::to_string(bytes / (1024 * 1024)) + " MB";
}

std::string fetch_jpeg(const NetSource& source, const NetFetchSettings& settings, const CancelCheck& cancelled) {
    auto url = parse_http_url(source.url);
    if (!url) throw Fault{FaultKind::bad_source, "net:" + source.name + " has an unusable URL: " + source.url};
    std::string who = "net:" + source.name + " (" + source.url + ")";

    GetResult got = http_get(*url, settings.limits, cancelled,
                             [&](const NetAddress& address) { return !reaches_app(address, settings.app_port); });
    switch (got.outcome) {
        case GetResult::Outcome::reply:
            break;
        case GetResult::Outcome::cancelled:
            throw Cancelled{};
        case GetResult::Outcome::unreachable:
            throw Fault{FaultKind::bad_source, "cannot reach " + who + ": " + got.detail};
        case GetResult::Outcome::refused:
            throw Fault{FaultKind::bad_source, who + " is vistrel-app itself; a source must be another camera"};
        case GetResult::Outcome::timed_out:
            throw Fault{FaultKind::bad_source,
                        who + " sent no complete photo within " + seconds_text(settings.limits.total_time)};
        case GetResult::Outcome::too_large:
            throw Fault{FaultKind::bad_source, who + " sent more than " + megabytes(settings.limits.max_body) +
                                                   ", which is not a single photo"};
        case GetResult::Outcome::broken:
            throw Fault{FaultKind::bad_source, who + " sent no usable answer: " + got.detail};
    }
    if (got.status < 200 || got.status > 299) {
        throw Fault{FaultKind::bad_source,
                    who + " answered HTTP " + std::to_string(got.status) + " instead of a photo"};
    }
    if (!starts_like_jpeg(got.body)) {
        throw Fault{FaultKind::bad_source, who + " did not send a JPEG" +
                                               (got.content_type.empty() ? "" : " (it sent " + got.content_type + ")")};
    }
    return std::move(got.body);
}
}  // namespace

NetPicture net_source_picture(const NetSource& source, const SizeRequest& size, const NetFetchSettings& settings,
                              const CancelCheck& cancelled) {
    std::string jpeg = fetch_jpeg(source, settings, cancelled);
    std::string id = "net:" + source.name;
    auto native = jpeg_size(jpeg);
    if (!native) throw Fault{FaultKind::bad_source, id + " sent a JPEG that cannot be decoded"};
    if (!decodable_size(*native)) {
        throw Fault{FaultKind::bad_source,
                    id + " sent a picture of " + std::to_string(native->width) + "x" + std::to_string(native->height) +
                        " pixels; at most " + std::to_string(max_decoded_side) + " a side and " +
                        std::to_string(max_decoded_pixels / 1'000'000) + " megapixels are accepted"};
    }
    NetPicture picture{{}, *native, std::nullopt};
    // Without a size or region the camera's own bytes are passed on untouched.
    if (!size.width && !size.height && !size.region) {
        picture.jpeg = std::move(jpeg);
        return picture;
    }
    if (size.region) picture.region = clip_region(*size.region, *native, id);
    FrameSize shown = picture.region ? FrameSize{picture.region->width, picture.region->height} : *native;
    FrameSize target = resolve_frame_size(size, shown, picture.region ? max_screen_side : max_frame_side);
    // A region is cut from the whole picture; without one a smaller scale of
    // it is enough.
    auto decoded = picture.region ? decode_jpeg(jpeg) : decode_jpeg(jpeg, target);
    if (!decoded) throw Fault{FaultKind::bad_source, id + " sent a JPEG that cannot be decoded"};
    Image part = picture.region ? crop_image(*decoded, *picture.region) : std::move(*decoded);
    picture.jpeg = encode_jpeg(scale_image(part, target.width, target.height));
    return picture;
}
