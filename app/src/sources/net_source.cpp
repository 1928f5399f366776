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

std::string net_source_jpeg(const NetSource& source, const SizeRequest& size, const NetFetchSettings& settings,
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
    // Without a size the camera's own bytes are passed on untouched.
    if (!size.width && !size.height) return jpeg;
    FrameSize target = resolve_frame_size(size, *native);
    auto picture = decode_jpeg(jpeg, target);
    if (!picture) throw Fault{FaultKind::bad_source, id + " sent a JPEG that cannot be decoded"};
    return encode_jpeg(scale_image(*picture, target.width, target.height));
}
