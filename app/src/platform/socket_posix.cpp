#include "platform/app_socket.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {
int native(SocketHandle socket) {
    return static_cast<int>(socket);
}

SocketResult failure(int code) {
    SocketResult result;
    result.code = code;
    switch (code) {
        case EAGAIN:
#if EWOULDBLOCK != EAGAIN
        case EWOULDBLOCK:
#endif
            result.status = SocketStatus::would_block;
            break;
        case ECONNRESET:
        case ECONNABORTED:
        case EPIPE:
        case ENOTCONN:
            result.status = SocketStatus::reset;
            break;
        case EMFILE:
        case ENFILE:
        case ENOBUFS:
        case ENOMEM:
            result.status = SocketStatus::out_of_descriptors;
            break;
        default:
            result.status = SocketStatus::failed;
    }
    return result;
}

SocketResult moved(std::size_t bytes) {
    SocketResult result;
    result.status = SocketStatus::done;
    result.bytes = bytes;
    return result;
}

// The address in the system's layout.
socklen_t native_address(const NetAddress& address, sockaddr_storage& out) {
    out = {};
    if (address.ipv6) {
        auto* v6 = reinterpret_cast<sockaddr_in6*>(&out);
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(static_cast<std::uint16_t>(address.port));
        std::memcpy(&v6->sin6_addr, address.bytes.data(), 16);
        v6->sin6_scope_id = address.scope_id;
        return sizeof(sockaddr_in6);
    }
    auto* v4 = reinterpret_cast<sockaddr_in*>(&out);
    v4->sin_family = AF_INET;
    v4->sin_port = htons(static_cast<std::uint16_t>(address.port));
    std::memcpy(&v4->sin_addr, address.bytes.data(), 4);
    return sizeof(sockaddr_in);
}

Resolved resolve(const std::string& host, int port, int flags) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = flags | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    std::string service = std::to_string(port);
    Resolved resolved;
    int rc = getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
    if (rc != 0) {
        resolved.error = rc == EAI_SYSTEM ? std::strerror(errno) : gai_strerror(rc);
        return resolved;
    }
    for (const addrinfo* a = found; a; a = a->ai_next) {
        NetAddress address;
        address.port = port;
        if (a->ai_family == AF_INET) {
            std::memcpy(address.bytes.data(), &reinterpret_cast<const sockaddr_in*>(a->ai_addr)->sin_addr, 4);
        } else if (a->ai_family == AF_INET6) {
            const auto* v6 = reinterpret_cast<const sockaddr_in6*>(a->ai_addr);
            address.ipv6 = true;
            std::memcpy(address.bytes.data(), &v6->sin6_addr, 16);
            address.scope_id = v6->sin6_scope_id;
        } else {
            continue;
        }
        resolved.addresses.push_back(address);
    }
    freeaddrinfo(found);
    return resolved;
}

// 1: ready (or failed: the next call says how), 0: not yet. A wait cut
// short by a signal counts as not yet; the callers wait again until their
// own deadline.
int poll_one(SocketHandle socket, short events, int timeout_ms) {
    pollfd watch{native(socket), events, 0};
    int rc = ::poll(&watch, 1, timeout_ms);
    if (rc < 0 && errno == EINTR) return 0;
    return rc == 0 ? 0 : 1;
}
}  // namespace

std::string socket_error_text(int code) {
    return std::strerror(code);
}

std::optional<std::string> start_sockets() {
    return std::nullopt;
}

Listening listen_on_loopback(int port) {
    Listening listening;
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        listening.error = std::strerror(errno);
        return listening;
    }
    // SO_REUSEADDR only lets the port be bound again while old connections
    // linger in TIME_WAIT; without SO_REUSEPORT a second app cannot bind it.
    int yes = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    // SOMAXCONN: the kernel caps the backlog at net.core.somaxconn, so that a
    // burst of clients waits to be taken rather than having its SYNs dropped.
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, SOMAXCONN) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        listening.error = std::strerror(errno);
        ::close(fd);
        return listening;
    }
    listening.socket = fd;
    listening.port = ntohs(address.sin_port);
    return listening;
}

SocketResult accept_connection(SocketHandle listener) {
    for (;;) {
        int fd = ::accept4(native(listener), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd >= 0) {
            SocketResult result = moved(0);
            result.socket = fd;
            return result;
        }
        if (errno != EINTR) return failure(errno);
    }
}

SocketResult receive_some(SocketHandle socket, char* buffer, std::size_t size) {
    for (;;) {
        ssize_t n = ::recv(native(socket), buffer, size, 0);
        if (n > 0) return moved(static_cast<std::size_t>(n));
        if (n == 0) {
            SocketResult result;
            result.status = SocketStatus::ended;
            return result;
        }
        if (errno != EINTR) return failure(errno);
    }
}

SocketResult send_some(SocketHandle socket, std::string_view first, std::string_view second) {
    iovec parts[2];
    std::size_t count = 0;
    if (!first.empty()) parts[count++] = {const_cast<char*>(first.data()), first.size()};
    if (!second.empty()) parts[count++] = {const_cast<char*>(second.data()), second.size()};
    if (count == 0) return moved(0);
    msghdr message{};
    message.msg_iov = parts;
    message.msg_iovlen = count;
    for (;;) {
        ssize_t n = ::sendmsg(native(socket), &message, MSG_NOSIGNAL);
        if (n >= 0) return moved(static_cast<std::size_t>(n));
        if (errno != EINTR) return failure(errno);
    }
}

SocketResult send_urgent_probe(SocketHandle socket) {
    for (;;) {
        ssize_t n = ::send(native(socket), "!", 1, MSG_OOB | MSG_NOSIGNAL);
        if (n >= 0) return moved(static_cast<std::size_t>(n));
        if (errno != EINTR) return failure(errno);
    }
}

bool connection_reset(SocketHandle socket) {
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(native(socket), SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) return true;
    // A reset after the peer's end of stream leaves no error behind on every
    // kernel; the connection's state says it all the same.
    tcp_info info{};
    length = sizeof info;
    if (getsockopt(native(socket), IPPROTO_TCP, TCP_INFO, &info, &length) != 0) return false;
    return info.tcpi_state == TCP_CLOSE;
}

void shut_down_sending(SocketHandle socket) {
    ::shutdown(native(socket), SHUT_WR);
}

void close_socket(SocketHandle socket) {
    if (socket != no_socket) ::close(native(socket));
}

Resolved numeric_addresses(const std::string& host, int port) {
    return resolve(host, port, AI_NUMERICHOST);
}

Resolved look_up_addresses(const std::string& host, int port) {
    return resolve(host, port, 0);
}

SocketResult start_connect(const NetAddress& address) {
    sockaddr_storage native_form;
    socklen_t length = native_address(address, native_form);
    int fd = ::socket(native_form.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return failure(errno);
    int rc = ::connect(fd, reinterpret_cast<const sockaddr*>(&native_form), length);
    if (rc != 0 && errno != EINPROGRESS && errno != EINTR) {
        SocketResult result = failure(errno);
        ::close(fd);
        return result;
    }
    SocketResult result;
    result.status = rc == 0 ? SocketStatus::done : SocketStatus::in_progress;
    result.socket = fd;
    return result;
}

SocketResult finish_connect(SocketHandle socket, int timeout_ms) {
    if (poll_one(socket, POLLOUT, timeout_ms) == 0) {
        SocketResult result;
        result.status = SocketStatus::would_block;
        return result;
    }
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(native(socket), SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
    if (error == EINPROGRESS || error == EALREADY) {
        SocketResult result;
        result.status = SocketStatus::would_block;
        return result;
    }
    if (error != 0) return failure(error);
    return moved(0);
}

bool wait_until_ready(SocketHandle socket, bool for_writing, int timeout_ms) {
    return poll_one(socket, for_writing ? POLLOUT : POLLIN, timeout_ms) == 1;
}
