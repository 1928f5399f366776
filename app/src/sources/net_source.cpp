#include "sources/net_source.h"

#include "imaging/jpeg.h"
#include "refusal.h"
#include "sources/http_url.h"

#include <httplib.h>

std::string fetch_source_jpeg(const NetSource& source) {
    auto url = parse_http_url(source.url);
    if (!url) throw Refusal{502, "net:" + source.name + " has an unusable URL: " + source.url};

    httplib::Client client(url->host, url->port);
    client.set_connection_timeout(3);
    client.set_read_timeout(10);
    client.set_write_timeout(5);
    client.set_follow_location(false);

    int status = 0;
    std::string content_type;
    std::string body;
    bool too_large = false;
    auto result = client.Get(
        url->target,
        [&](const httplib::Response& response) {
            status = response.status;
            content_type = response.get_header_value("Content-Type");
            return true;
        },
        [&](const char* data, size_t length) {
            if (body.size() + length > max_net_frame_bytes) {
                too_large = true;
                return false;
            }
            body.append(data, length);
            return true;
        });

    std::string who = "net:" + source.name + " (" + source.url + ")";
    if (too_large) throw Refusal{502, who + " sent more than 32 MB, which is not a single photo"};
    if (!result) throw Refusal{502, "cannot reach " + who + ": " + httplib::to_string(result.error())};
    if (status < 200 || status > 299) {
        throw Refusal{502, who + " answered HTTP " + std::to_string(status) + " instead of a photo"};
    }
    if (!starts_like_jpeg(body)) {
        throw Refusal{502,
                      who + " did not send a JPEG" + (content_type.empty() ? "" : " (it sent " + content_type + ")")};
    }
    return body;
}
