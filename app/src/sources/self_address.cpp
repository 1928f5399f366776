#include "sources/self_address.h"

#include <algorithm>
#include <cctype>
#include <string>

namespace {
// 127/8 or 0.0.0.0, from four bytes in network order.
bool loopback_or_any_v4(const std::uint8_t* v4) {
    return v4[0] == 127 || (v4[0] == 0 && v4[1] == 0 && v4[2] == 0 && v4[3] == 0);
}

bool zeros(const std::uint8_t* bytes, std::size_t count) {
    return std::all_of(bytes, bytes + count, [](std::uint8_t b) { return b == 0; });
}

bool is_localhost_name(std::string host) {
    for (auto& c : host) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (!host.empty() && host.back() == '.') host.pop_back();
    constexpr std::string_view suffix = ".localhost";
    return host == "localhost" ||
           (host.size() > suffix.size() && host.compare(host.size() - suffix.size(), suffix.size(), suffix) == 0);
}
}  // namespace

bool reaches_app(const NetAddress& address, int app_port) {
    if (address.port != app_port) return false;
    const std::uint8_t* a = address.bytes.data();
    if (!address.ipv6) return loopback_or_any_v4(a);
    // ::, ::1, and the IPv4 forms: ::ffff:a.b.c.d (mapped) and ::a.b.c.d
    // (compatible), which reach the IPv4 address.
    if (zeros(a, 15) && (a[15] == 0 || a[15] == 1)) return true;
    bool mapped = zeros(a, 10) && a[10] == 0xff && a[11] == 0xff;
    bool compatible = zeros(a, 12);
    return (mapped || compatible) && loopback_or_any_v4(a + 12);
}

bool url_points_at_app(const HttpUrl& url, int app_port) {
    if (url.port != app_port) return false;
    if (is_localhost_name(url.host)) return true;
    Resolved numeric = numeric_addresses(url.host, url.port);
    return std::any_of(numeric.addresses.begin(), numeric.addresses.end(),
                       [&](const NetAddress& address) { return reaches_app(address, app_port); });
}
