// Addresses of network cameras: the http:// URL as a source is registered
// with it, and the rule that a source may not be the app itself.
//
// Input: two bytes read from the end (the app's port, 7777 + the byte),
// then the URL.
//
// A URL is either refused or read into a host, a port and a target that,
// written out again, read back the same; and every spelling of a loopback
// address with the app's port counts as the app.
#include <arpa/inet.h>
#include <fuzzer/FuzzedDataProvider.h>
#include <netinet/in.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstring>
#include <string>

#include "check.h"
#include "sources/http_url.h"
#include "sources/self_address.h"
#include "sources/sources_store.h"

namespace {
bool operator==(const HttpUrl& a, const HttpUrl& b) {
    return a.host == b.host && a.port == b.port && a.target == b.target;
}

std::string written(const HttpUrl& url) {
    bool ipv6 = url.host.find(':') != std::string::npos;
    return "http://" + (ipv6 ? "[" + url.host + "]" : url.host) + ":" + std::to_string(url.port) + url.target;
}

std::string lower(std::string text) {
    for (auto& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// The loopback or unspecified address that the host spells, read the way
// the C library reads numeric hosts (inet_aton takes 127.1 and 0x7f000001).
bool spells_own_machine(const std::string& host) {
    in_addr v4{};
    if (inet_aton(host.c_str(), &v4)) {
        std::uint32_t a = ntohl(v4.s_addr);
        return (a >> 24) == 127 || a == 0;
    }
    in6_addr v6{};
    if (inet_pton(AF_INET6, host.c_str(), &v6) == 1) {
        if (IN6_IS_ADDR_LOOPBACK(&v6) || IN6_IS_ADDR_UNSPECIFIED(&v6)) return true;
        // An IPv4 address inside an IPv6 one: the mapped form, and the old
        // compatible form, which is taken the same way to be safe.
        if (IN6_IS_ADDR_V4MAPPED(&v6) || IN6_IS_ADDR_V4COMPAT(&v6)) {
            const std::uint8_t* a = v6.s6_addr + 12;
            return a[0] == 127 || (a[0] | a[1] | a[2] | a[3]) == 0;
        }
        return false;
    }
    std::string name = lower(host);
    if (!name.empty() && name.back() == '.') name.pop_back();
    return name == "localhost" || (name.size() > 10 && name.ends_with(".localhost"));
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    int port = 7777 + input.ConsumeIntegral<std::uint8_t>();
    std::string text = input.ConsumeRemainingBytesAsString();

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

    bool self = url_points_at_app(*url, port);
    FUZZ_CHECK(self == (url->port == port && spells_own_machine(url->host)),
               "the app's own address was judged wrongly");
    FUZZ_CHECK(!url_points_at_app(*url, url->port == 1 ? 2 : url->port - 1), "another port was taken for the app");
    return 0;
}
