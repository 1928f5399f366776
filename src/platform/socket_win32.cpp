#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <climits>
#include <cstring>

#include "platform/socket.h"

namespace {
SOCKET native(SocketHandle socket) {
    return static_cast<SOCKET>(socket);
}

int last_socket_error() {
    return WSAGetLastError();
}

// Winsock counts in int.
int clamp_size(std::size_t size) {
    return static_cast<int>(std::min<std::size_t>(size, INT_MAX));
}
}  // namespace

std::optional<IoError> socket_layer_start() {
    // Started at the first exchange and left running until the process ends;
    // vistrel-mcp's calls can reach here from several threads at once.
    static const std::optional<IoError> failure = []() -> std::optional<IoError> {
        WSADATA data;
        int status = WSAStartup(MAKEWORD(2, 2), &data);
        if (status != 0) return os_error(status);
        return std::nullopt;
    }();
    return failure;
}

ResolveResult resolve_host(const std::string& host, std::uint16_t port) {
    ResolveResult result;
    // An empty host would list this machine's own addresses here; on Linux
    // it finds nothing.
    if (host.empty()) {
        result.error = os_error(WSAHOST_NOT_FOUND);
        return result;
    }
    // The host is UTF-8 text; the wide resolver takes it as Unicode, where
    // the narrow one would read it in the ANSI code page.
    const int size = clamp_size(host.size());
    int length = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, host.data(), size, nullptr, 0);
    if (length == 0) {
        result.error = os_error(static_cast<int>(GetLastError()));
        return result;
    }
    std::wstring wide_host(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, host.data(), size, wide_host.data(), length);
    ADDRINFOW hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    ADDRINFOW* found = nullptr;
    int status = GetAddrInfoW(wide_host.c_str(), nullptr, &hints, &found);
    if (status != 0) {
        result.error = os_error(status);
        return result;
    }
    for (ADDRINFOW* entry = found; entry != nullptr; entry = entry->ai_next) {
        auto address = resolved_address(entry->ai_addr, entry->ai_addrlen, entry->ai_family, port);
        if (address) result.addresses.push_back(*address);
    }
    FreeAddrInfoW(found);
    return result;
}

ConnectResult connect_socket(const SocketAddress& address) {
    ConnectResult result;
    SOCKET handle = socket(address.family, SOCK_STREAM, 0);
    if (handle == INVALID_SOCKET) {
        result.error = os_error(last_socket_error());
        return result;
    }
    if (connect(handle, reinterpret_cast<const sockaddr*>(address.storage), address.length) == SOCKET_ERROR) {
        int error = last_socket_error();
        closesocket(handle);
        result.error = os_error(error);
        return result;
    }
    result.handle = static_cast<SocketHandle>(handle);
    return result;
}

std::optional<IoError> set_receive_timeout(SocketHandle socket, std::uint32_t milliseconds) {
    // Winsock takes the time limit as a DWORD of milliseconds, not a timeval.
    DWORD limit = milliseconds;
    if (setsockopt(native(socket), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&limit), sizeof limit) ==
        SOCKET_ERROR) {
        return os_error(last_socket_error());
    }
    return std::nullopt;
}

TransferResult send_some(SocketHandle socket, const char* data, std::size_t size) {
    int sent = send(native(socket), data, clamp_size(size), 0);
    if (sent == SOCKET_ERROR) return TransferResult{0, os_error(last_socket_error())};
    return TransferResult{static_cast<std::size_t>(sent), std::nullopt};
}

TransferResult receive_some(SocketHandle socket, char* data, std::size_t size) {
    // The receive timeout shows as WSAETIMEDOUT, which already says what it means.
    int got = recv(native(socket), data, clamp_size(size), 0);
    if (got == SOCKET_ERROR) return TransferResult{0, os_error(last_socket_error())};
    return TransferResult{static_cast<std::size_t>(got), std::nullopt};
}

void interrupt_socket(SocketHandle socket) {
    // The shutdown makes every later receive fail and tells the peer; a
    // receive already waiting in another thread is only ended by cancelling
    // its I/O, which a blocking Winsock call waits on internally.
    shutdown(native(socket), SD_BOTH);
    CancelIoEx(reinterpret_cast<HANDLE>(socket), nullptr);
}

void close_socket(SocketHandle socket) {
    closesocket(native(socket));
}
