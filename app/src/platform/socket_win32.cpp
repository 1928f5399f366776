#include "platform/app_socket.h"

#include <windows.h>
#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <climits>
#include <cstring>

namespace {
SOCKET native(SocketHandle socket) {
    return static_cast<SOCKET>(socket);
}

SocketResult failure(int code) {
    SocketResult result;
    result.code = code;
    switch (code) {
        case WSAEWOULDBLOCK:
            result.status = SocketStatus::would_block;
            break;
        case WSAECONNRESET:
        case WSAECONNABORTED:
        case WSAENETRESET:
        case WSAENOTCONN:
        case WSAESHUTDOWN:
            result.status = SocketStatus::reset;
            break;
        case WSAEMFILE:
        case WSAENOBUFS:
        case WSA_NOT_ENOUGH_MEMORY:
            result.status = SocketStatus::out_of_descriptors;
            break;
        default:
            result.status = SocketStatus::failed;
    }
    return result;
}

SocketResult last_failure() {
    return failure(WSAGetLastError());
}

SocketResult moved(std::size_t bytes) {
    SocketResult result;
    result.status = SocketStatus::done;
    result.bytes = bytes;
    return result;
}

// A non-blocking socket that child processes do not inherit.
SOCKET new_socket(int family, int& error) {
    SOCKET s = WSASocketW(family, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET) {
        error = WSAGetLastError();
        return s;
    }
    u_long on = 1;
    if (ioctlsocket(s, FIONBIO, &on) != 0) {
        error = WSAGetLastError();
        closesocket(s);
        return INVALID_SOCKET;
    }
    return s;
}

int native_address(const NetAddress& address, sockaddr_storage& out) {
    out = {};
    if (address.ipv6) {
        auto* v6 = reinterpret_cast<sockaddr_in6*>(&out);
        v6->sin6_family = AF_INET6;
        v6->sin6_port = htons(static_cast<u_short>(address.port));
        std::memcpy(&v6->sin6_addr, address.bytes.data(), 16);
        v6->sin6_scope_id = address.scope_id;
        return sizeof(sockaddr_in6);
    }
    auto* v4 = reinterpret_cast<sockaddr_in*>(&out);
    v4->sin_family = AF_INET;
    v4->sin_port = htons(static_cast<u_short>(address.port));
    std::memcpy(&v4->sin_addr, address.bytes.data(), 4);
    return sizeof(sockaddr_in);
}

Resolved resolve(const std::string& host, int port, int flags) {
    Resolved resolved;
    if (auto problem = start_sockets()) {
        resolved.error = *problem;
        return resolved;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = flags | AI_NUMERICSERV;
    addrinfo* found = nullptr;
    std::string service = std::to_string(port);
    int rc = getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
    if (rc != 0) {
        resolved.error = socket_error_text(rc);
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

// select() for one socket: 1 ready (or failed), 0 the time ran out. A
// failed connection shows in the exception set.
int select_one(SocketHandle socket, bool for_writing, int timeout_ms) {
    fd_set ready, failed;
    FD_ZERO(&ready);
    FD_ZERO(&failed);
    FD_SET(native(socket), &ready);
    FD_SET(native(socket), &failed);
    timeval wait{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
    int rc = select(0, for_writing ? nullptr : &ready, for_writing ? &ready : nullptr, &failed, &wait);
    return rc == 0 ? 0 : 1;
}
}  // namespace

std::string socket_error_text(int code) {
    // The words the Linux app uses, so that a refusal reads the same.
    switch (code) {
        case WSAECONNREFUSED:
            return "Connection refused";
        case WSAECONNRESET:
            return "Connection reset by peer";
        case WSAETIMEDOUT:
            return "Connection timed out";
        case WSAENETUNREACH:
            return "Network is unreachable";
        case WSAEHOSTUNREACH:
            return "No route to host";
        case WSAEADDRINUSE:
            return "Address already in use";
        case WSAEACCES:
            return "Permission denied";
        case WSAEMFILE:
            return "Too many open files";
        case WSAENOBUFS:
            return "No buffer space available";
        case WSAHOST_NOT_FOUND:
            return "Name or service not known";
        case WSATRY_AGAIN:
            return "Temporary failure in name resolution";
        default:
            break;
    }
    char* text = nullptr;
    DWORD length =
        FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message = length ? std::string(text, length) : "error " + std::to_string(code);
    if (text) LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == '.')) {
        message.pop_back();
    }
    return message;
}

std::optional<std::string> start_sockets() {
    // Once for the process, from whichever thread comes first; Winsock stays
    // up until the process ends.
    static const std::optional<std::string> problem = []() -> std::optional<std::string> {
        WSADATA data;
        int rc = WSAStartup(MAKEWORD(2, 2), &data);
        if (rc != 0) return "cannot start Winsock: " + socket_error_text(rc);
        return std::nullopt;
    }();
    return problem;
}

Listening listen_on_loopback(int port) {
    Listening listening;
    if (auto problem = start_sockets()) {
        listening.error = *problem;
        return listening;
    }
    int error = 0;
    SOCKET s = new_socket(AF_INET, error);
    if (s == INVALID_SOCKET) {
        listening.error = socket_error_text(error);
        return listening;
    }
    // Without it another program could bind the same port with SO_REUSEADDR
    // and take connections meant for the app.
    BOOL yes = TRUE;
    setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&yes), sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<u_short>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    if (bind(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(s, SOMAXCONN) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        listening.error = socket_error_text(WSAGetLastError());
        closesocket(s);
        return listening;
    }
    listening.socket = static_cast<SocketHandle>(s);
    listening.port = ntohs(address.sin_port);
    return listening;
}

SocketResult accept_connection(SocketHandle listener) {
    SOCKET s = accept(native(listener), nullptr, nullptr);
    if (s == INVALID_SOCKET) return last_failure();
    // An accepted socket takes the listener's properties; made sure of here,
    // since a child process must never hold a client's connection.
    SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
    u_long on = 1;
    ioctlsocket(s, FIONBIO, &on);
    SocketResult result = moved(0);
    result.socket = static_cast<SocketHandle>(s);
    return result;
}

SocketResult receive_some(SocketHandle socket, char* buffer, std::size_t size) {
    int n = recv(native(socket), buffer, static_cast<int>(std::min<std::size_t>(size, INT_MAX)), 0);
    if (n > 0) return moved(static_cast<std::size_t>(n));
    if (n == 0) {
        SocketResult result;
        result.status = SocketStatus::ended;
        return result;
    }
    return last_failure();
}

SocketResult send_some(SocketHandle socket, std::string_view first, std::string_view second) {
    WSABUF parts[2];
    DWORD count = 0;
    auto add = [&](std::string_view bytes) {
        if (bytes.empty()) return;
        parts[count].buf = const_cast<char*>(bytes.data());
        parts[count].len = static_cast<ULONG>(std::min<std::size_t>(bytes.size(), 1u << 30));
        ++count;
    };
    add(first);
    if (first.size() < (1u << 30)) add(second);
    if (count == 0) return moved(0);
    DWORD sent = 0;
    if (WSASend(native(socket), parts, count, &sent, 0, nullptr, nullptr) != 0) return last_failure();
    return moved(sent);
}

SocketResult send_urgent_probe(SocketHandle socket) {
    int n = send(native(socket), "!", 1, MSG_OOB);
    if (n == SOCKET_ERROR) return last_failure();
    return moved(static_cast<std::size_t>(n));
}

bool connection_reset(SocketHandle socket) {
    int error = 0;
    int length = sizeof error;
    if (getsockopt(native(socket), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0 || error != 0) {
        return true;
    }
    // Once the peer's end of stream has been read, a receive reports only
    // that; a send of nothing still reports a connection that was reset.
    if (send(native(socket), "", 0, 0) == SOCKET_ERROR) {
        SocketStatus status = failure(WSAGetLastError()).status;
        return status != SocketStatus::would_block;
    }
    return false;
}

void shut_down_sending(SocketHandle socket) {
    shutdown(native(socket), SD_SEND);
}

void close_socket(SocketHandle socket) {
    if (socket != no_socket) closesocket(native(socket));
}

Resolved numeric_addresses(const std::string& host, int port) {
    return resolve(host, port, AI_NUMERICHOST);
}

Resolved look_up_addresses(const std::string& host, int port) {
    return resolve(host, port, 0);
}

SocketResult start_connect(const NetAddress& address) {
    if (start_sockets()) return failure(WSANOTINITIALISED);
    sockaddr_storage native_form;
    int length = native_address(address, native_form);
    int error = 0;
    SOCKET s = new_socket(native_form.ss_family, error);
    if (s == INVALID_SOCKET) return failure(error);
    if (connect(s, reinterpret_cast<const sockaddr*>(&native_form), length) != 0) {
        int code = WSAGetLastError();
        if (code != WSAEWOULDBLOCK) {
            closesocket(s);
            return failure(code);
        }
        SocketResult result;
        result.status = SocketStatus::in_progress;
        result.socket = static_cast<SocketHandle>(s);
        return result;
    }
    SocketResult result = moved(0);
    result.socket = static_cast<SocketHandle>(s);
    return result;
}

SocketResult finish_connect(SocketHandle socket, int timeout_ms) {
    if (select_one(socket, /*for_writing=*/true, timeout_ms) == 0) {
        SocketResult result;
        result.status = SocketStatus::would_block;
        return result;
    }
    int error = 0;
    int length = sizeof error;
    if (getsockopt(native(socket), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error), &length) != 0) {
        error = WSAGetLastError();
    }
    if (error != 0) return failure(error);
    return moved(0);
}

bool wait_until_ready(SocketHandle socket, bool for_writing, int timeout_ms) {
    return select_one(socket, for_writing, timeout_ms) == 1;
}
