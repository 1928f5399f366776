// Addresses of network cameras: the http:// URL as a source is registered
// with it and as the fetch reads it.
//
// Input: the URL.
//
// A URL is either refused or read into a host, a port and a target that,
// written out again, read back the same.
#include <cstdint>
#include <string>

#include "check.h"
#include "sources/http_url.h"
#include "sources/sources_store.h"

namespace {
bool operator==(const HttpUrl& a, const HttpUrl& b) {
    return a.host == b.host && a.port == b.port && a.target == b.target;
}

std::string written(const HttpUrl& url) {
    bool ipv6 = url.host.find(':') != std::string::npos;
    return "http://" + (ipv6 ? "[" + url.host + "]" : url.host) + ":" + std::to_string(url.port) + url.target;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string text(reinterpret_cast<const char*>(data), size);

    std::optional<HttpUrl> url = parse_http_url(text);
    std::optional<std::string> problem = source_url_problem(text);
    FUZZ_CHECK(problem.has_value() == (!url || text.size() > max_source_url_bytes),
               "registering and fetching disagree on the URL");
    if (problem) FUZZ_CHECK(!problem->empty(), "a refusal without a reason");
    if (!url) return 0;

    FUZZ_CHECK(!url->host.empty(), "a URL without a host");
    FUZZ_CHECK(url->port >= 1 && url->port <= 65535, "a port out of range");
    FUZZ_CHECK(!url->target.empty() && url->target.front() == '/', "a target that does not begin with /");
    FUZZ_CHECK(url->target.find('#') == std::string::npos, "a fragment went into the target");
    for (const std::string* part : {&url->host, &url->target}) {
        for (char c : *part) {
            auto u = static_cast<unsigned char>(c);
            FUZZ_CHECK(u > 0x20 && u != 0x7f, "a space or control byte in the host or target");
        }
    }
    FUZZ_CHECK(url->host.find_first_of("@/?#[]") == std::string::npos, "the host holds a delimiter");
    std::optional<HttpUrl> again = parse_http_url(written(*url));
    FUZZ_CHECK(again && *again == *url, "the URL written out reads back as another");

    return 0;
}
