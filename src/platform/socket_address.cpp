// Socket addresses have the same layout under both socket layers; only the
// headers that declare them differ.
#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#endif

#include <cstring>

#include "platform/socket.h"

std::optional<SocketAddress> numeric_address(const std::string& ip, bool ipv6, std::uint16_t port, std::uint32_t scope_id) {
    SocketAddress address;
    if (ipv6) {
        sockaddr_in6 v6{};
        v6.sin6_family = AF_INET6;
        v6.sin6_port = htons(port);
        v6.sin6_scope_id = scope_id;
        if (inet_pton(AF_INET6, ip.c_str(), &v6.sin6_addr) != 1) return std::nullopt;
        std::memcpy(address.storage, &v6, sizeof v6);
        address.length = sizeof v6;
        address.family = AF_INET6;
    } else {
        sockaddr_in v4{};
        v4.sin_family = AF_INET;
        v4.sin_port = htons(port);
        if (inet_pton(AF_INET, ip.c_str(), &v4.sin_addr) != 1) return std::nullopt;
        std::memcpy(address.storage, &v4, sizeof v4);
        address.length = sizeof v4;
        address.family = AF_INET;
    }
    return address;
}

std::optional<SocketAddress> resolved_address(const void* raw, std::size_t length, int family, std::uint16_t port) {
    SocketAddress address;
    if (length > sizeof address.storage) return std::nullopt;
    std::memcpy(address.storage, raw, length);
    address.length = static_cast<int>(length);
    address.family = family;
    if (family == AF_INET) {
        reinterpret_cast<sockaddr_in*>(address.storage)->sin_port = htons(port);
    } else if (family == AF_INET6) {
        reinterpret_cast<sockaddr_in6*>(address.storage)->sin6_port = htons(port);
    }
    return address;
}
