#include "raw_http.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

int connect_loopback(int port) {
    int sock = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (sock < 0) throw std::runtime_error("socket failed");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(sock, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(sock);
        throw std::runtime_error("connect failed");
    }
    return sock;
}

bool send_bytes(int sock, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        ssize_t n = send(sock, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return false;  // the app may refuse before reading everything
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

RawReply read_reply(int sock, std::chrono::milliseconds limit) {
    auto started = std::chrono::steady_clock::now();
    RawReply reply;
    std::string data;
    auto deadline = started + limit;
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        pollfd fd{sock, POLLIN, 0};
        if (left.count() <= 0 || poll(&fd, 1, static_cast<int>(left.count())) <= 0) break;
        char buffer[65536];
        ssize_t n = recv(sock, buffer, sizeof buffer, 0);
        if (n <= 0) {
            reply.closed_by_app = n == 0 || errno == ECONNRESET;
            break;
        }
        data.append(buffer, static_cast<std::size_t>(n));
    }
    reply.took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
    std::size_t end = data.find("\r\n\r\n");
    reply.head = data.substr(0, end);
    reply.body = end == std::string::npos ? "" : data.substr(end + 4);
    if (data.rfind("HTTP/1.1 ", 0) == 0 && data.size() >= 12) reply.status = std::stoi(data.substr(9, 3));
    return reply;
}

RawReply raw_exchange(int port, const std::string& request, bool hang_up) {
    auto started = std::chrono::steady_clock::now();
    int sock = connect_loopback(port);
    send_bytes(sock, request);
    if (hang_up) shutdown(sock, SHUT_WR);
    RawReply reply = read_reply(sock, std::chrono::seconds(10));
    close(sock);
    reply.took = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started);
    return reply;
}

std::string client_style_request(const std::string& method, const std::string& path, int port, const std::string& body,
                                 const std::string& extra_headers, const std::string& host) {
    std::string request = method + " " + path +
                          " HTTP/1.1\r\nHost: " + (host.empty() ? "127.0.0.1:" + std::to_string(port) : host) +
                          "\r\nConnection: close\r\n";
    if (!body.empty()) request += "Content-Type: application/json\r\n";
    request += "Content-Length: " + std::to_string(body.size()) + "\r\n" + extra_headers + "\r\n" + body;
    return request;
}
