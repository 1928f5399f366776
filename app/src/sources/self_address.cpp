#include "sources/self_address.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>

#include <cctype>
#include <cstring>
#include <string>

namespace {
bool loopback_or_any_v4(std::uint32_t host_order) {
    return (host_order >> 24) == 127 || host_order == 0;
}

bool is_localhost_name(std::string host) {
    for (auto& c : host) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (!host.empty() && host.back() == '.') host.pop_back();
    constexpr std::string_view suffix = ".localhost";
    return host == "localhost" ||
           (host.size() > suffix.size() && host.compare(host.size() - suffix.size(), suffix.size(), suffix) == 0);
}
}  // namespace

bool reaches_app(const sockaddr* address, int app_port) {
    if (address->sa_family == AF_INET) {
        const auto* v4 = reinterpret_cast<const sockaddr_in*>(address);
        return ntohs(v4->sin_port) == app_port && loopback_or_any_v4(ntohl(v4->sin_addr.s_addr));
    }
    if (address->sa_family == AF_INET6) {
        const auto* v6 = reinterpret_cast<const sockaddr_in6*>(address);
        if (ntohs(v6->sin6_port) != app_port) return false;
        const in6_addr& a = v6->sin6_addr;
        if (IN6_IS_ADDR_LOOPBACK(&a) || IN6_IS_ADDR_UNSPECIFIED(&a)) return true;
        if (IN6_IS_ADDR_V4MAPPED(&a) || IN6_IS_ADDR_V4COMPAT(&a)) {
            std::uint32_t v4;
            std::memcpy(&v4, &a.s6_addr[12], sizeof v4);
            return loopback_or_any_v4(ntohl(v4));
        }
    }
    return false;
}

bool url_points_at_app(const HttpUrl& url, int app_port) {
    if (url.port != app_port) return false;
    if (is_localhost_name(url.host)) return true;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    std::string port = std::to_string(url.port);
    if (getaddrinfo(url.host.c_str(), port.c_str(), &hints, &found) != 0) return false;
    bool self = false;
    for (const addrinfo* a = found; a && !self; a = a->ai_next) self = reaches_app(a->ai_addr, app_port);
    freeaddrinfo(found);
    return self;
}
