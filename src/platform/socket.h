#pragma once
// Every call of the socket API lives behind this header, in socket_posix.cpp
// or socket_win32.cpp; socket_address.cpp builds the addresses both share.
// All calls block; interrupt_socket ends a wait from another thread.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/io_error.h"

// A socket address in the platform's own layout.
struct SocketAddress {
    alignas(8) unsigned char storage[128] = {};
    int length = 0;
    int family = 0;
};

using SocketHandle = std::intptr_t;

struct ConnectResult {
    SocketHandle handle = -1;
    std::optional<IoError> error;
};

struct ResolveResult {
    std::vector<SocketAddress> addresses;
    std::optional<IoError> error;
};

struct TransferResult {
    std::size_t bytes = 0;
    std::optional<IoError> error;
};

// Starts the socket layer once per process (Winsock 2.2 on Windows).
std::optional<IoError> socket_layer_start();

// A numeric IPv4 ("127.0.0.1") or IPv6 ("::1") address with a port and an
// IPv6 scope id; absent when the text is not such an address.
std::optional<SocketAddress> numeric_address(const std::string& ip, bool ipv6, std::uint16_t port,
                                             std::uint32_t scope_id);

// A copy of an address the resolver gave (`raw`, `length` bytes), with the
// port; absent when it does not fit. Used by both resolve_host versions.
std::optional<SocketAddress> resolved_address(const void* raw, std::size_t length, int family, std::uint16_t port);

// Looks the host up as stream-socket addresses of any family, each given the port.
ResolveResult resolve_host(const std::string& host, std::uint16_t port);

ConnectResult connect_socket(const SocketAddress& address);
std::optional<IoError> set_receive_timeout(SocketHandle socket, std::uint32_t milliseconds);
TransferResult send_some(SocketHandle socket, const char* data, std::size_t size);
// A receive that waits longer than the timeout fails with the system's timed-out error.
TransferResult receive_some(SocketHandle socket, char* data, std::size_t size);
// Ends the connection from any thread while another may be waiting on it: a
// receive or send in progress or to come returns at once (a receive with the
// end of the stream or an error), and the peer sees the client hang up. The
// handle stays valid until close_socket.
void interrupt_socket(SocketHandle socket);
void close_socket(SocketHandle socket);
