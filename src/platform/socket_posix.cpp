#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>
#include <cerrno>
#include <cstring>

#include "platform/socket.h"

std::optional<IoError> socket_layer_start() {
    return std::nullopt;  // nothing to start; SIGPIPE is ignored at the entry
}

ResolveResult resolve_host(const std::string& host, std::uint16_t port) {
    ResolveResult result;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    int status = getaddrinfo(host.c_str(), nullptr, &hints, &found);
    if (status != 0) {
        if (status == EAI_SYSTEM) {
            result.error = os_error(errno);
        } else {
            result.error = IoError{std::string("failed to look up address information: ") + gai_strerror(status)};
        }
        return result;
    }
    for (addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
        auto address = resolved_address(entry->ai_addr, entry->ai_addrlen, entry->ai_family, port);
        if (address) result.addresses.push_back(*address);
    }
    freeaddrinfo(found);
    return result;
}

// An interrupted connect goes on in the background; wait for its outcome.
static int finish_interrupted_connect(int fd) {
    pollfd watch{fd, POLLOUT, 0};
    while (poll(&watch, 1, -1) < 0) {
        if (errno != EINTR) return errno;
    }
    int error = 0;
    socklen_t length = sizeof error;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) < 0) return errno;
    return error;
}

ConnectResult connect_socket(const SocketAddress& address) {
    ConnectResult result;
    int fd = socket(address.family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        result.error = os_error(errno);
        return result;
    }
    int error = 0;
    if (connect(fd, reinterpret_cast<const sockaddr*>(address.storage), static_cast<socklen_t>(address.length)) < 0) {
        error = errno == EINTR ? finish_interrupted_connect(fd) : errno;
    }
    if (error != 0) {
        close(fd);
        result.error = os_error(error);
        return result;
    }
    result.handle = fd;
    return result;
}

std::optional<IoError> set_receive_timeout(SocketHandle socket, std::uint32_t milliseconds) {
    timeval limit{};
    limit.tv_sec = static_cast<time_t>(milliseconds / 1000);
    limit.tv_usec = static_cast<suseconds_t>((milliseconds % 1000) * 1000);
    if (setsockopt(static_cast<int>(socket), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit) < 0) {
        return os_error(errno);
    }
    return std::nullopt;
}

TransferResult send_some(SocketHandle socket, const char* data, std::size_t size) {
    for (;;) {
        // MSG_NOSIGNAL: a peer that has gone away gives EPIPE, never SIGPIPE.
        ssize_t sent = send(static_cast<int>(socket), data, size, MSG_NOSIGNAL);
        if (sent >= 0) return TransferResult{static_cast<std::size_t>(sent), std::nullopt};
        if (errno != EINTR) return TransferResult{0, os_error(errno)};
    }
}

TransferResult receive_some(SocketHandle socket, char* data, std::size_t size) {
    for (;;) {
        ssize_t got = recv(static_cast<int>(socket), data, size, 0);
        if (got >= 0) return TransferResult{static_cast<std::size_t>(got), std::nullopt};
        if (errno == EINTR) continue;
        // The receive timeout shows as EAGAIN; say what it means.
        if (errno == EAGAIN || errno == EWOULDBLOCK) return TransferResult{0, os_error(ETIMEDOUT)};
        return TransferResult{0, os_error(errno)};
    }
}

void interrupt_socket(SocketHandle socket) {
    // A receive blocked on the socket wakes with the end of the stream.
    shutdown(static_cast<int>(socket), SHUT_RDWR);
}

void close_socket(SocketHandle socket) {
    close(static_cast<int>(socket));
}
