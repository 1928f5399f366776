#include "raw_http.h"

#include <stdexcept>
#include <vector>

namespace {
using Clock = std::chrono::steady_clock;

int ms_until(Clock::time_point deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}
}  // namespace

SocketHandle connect_loopback(int port) {
    if (auto problem = start_sockets()) throw std::runtime_error(*problem);
    NetAddress address;
    address.bytes = {127, 0, 0, 1};
    address.port = port;
    SocketResult started = start_connect(address);
    SocketResult made = started;
    auto deadline = Clock::now() + std::chrono::seconds(10);
    while (made.status == SocketStatus::in_progress || made.status == SocketStatus::would_block) {
        if (Clock::now() >= deadline) break;
        made = finish_connect(started.socket, ms_until(deadline));
    }
    if (made.status != SocketStatus::done) {
        close_socket(started.socket);
        throw std::runtime_error("connect failed: " + socket_error_text(made.code));
    }
    return started.socket;
}

bool send_bytes(SocketHandle sock, const std::string& bytes) {
    std::size_t sent = 0;
    auto deadline = Clock::now() + std::chrono::seconds(10);
    while (sent < bytes.size()) {
        SocketResult wrote = send_some(sock, std::string_view(bytes).substr(sent));
        if (wrote.status == SocketStatus::would_block) {
            if (Clock::now() >= deadline) return false;
            wait_until_ready(sock, /*for_writing=*/true, 100);
            continue;
        }
        if (wrote.status != SocketStatus::done) return false;  // the app may refuse before reading everything
        sent += wrote.bytes;
    }
    return true;
}

RawReply read_reply(SocketHandle sock, std::chrono::milliseconds limit) {
    auto started = Clock::now();
    RawReply reply;
    std::string data;
    auto deadline = started + limit;
    std::vector<char> buffer(65536);
    for (;;) {
        if (Clock::now() >= deadline) break;
        if (!wait_until_ready(sock, /*for_writing=*/false, ms_until(deadline))) continue;
        SocketResult got = receive_some(sock, buffer.data(), buffer.size());
        if (got.status == SocketStatus::would_block) continue;
        if (got.status != SocketStatus::done) {
            reply.closed_by_app = got.status == SocketStatus::ended || got.status == SocketStatus::reset;
            break;
        }
        data.append(buffer.data(), got.bytes);
    }
    reply.took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started);
    std::size_t end = data.find("\r\n\r\n");
    reply.head = data.substr(0, end);
    reply.body = end == std::string::npos ? "" : data.substr(end + 4);
    if (data.rfind("HTTP/1.", 0) == 0 && data.size() >= 12) reply.status = std::stoi(data.substr(9, 3));
    return reply;
}

void hang_up_sending(SocketHandle sock) {
    shut_down_sending(sock);
}

void close_connection(SocketHandle sock) {
    close_socket(sock);
}

bool closed_within(SocketHandle sock, std::chrono::milliseconds limit) {
    auto deadline = Clock::now() + limit;
    char buffer[4096];
    for (;;) {
        if (Clock::now() >= deadline) return false;
        if (!wait_until_ready(sock, /*for_writing=*/false, ms_until(deadline))) continue;
        SocketResult got = receive_some(sock, buffer, sizeof buffer);
        if (got.status == SocketStatus::ended || got.status == SocketStatus::reset) return true;
    }
}

std::string read_some(SocketHandle sock, std::size_t most, std::chrono::milliseconds limit) {
    auto deadline = Clock::now() + limit;
    std::string data;
    std::vector<char> buffer(most);
    while (data.size() < most && Clock::now() < deadline) {
        if (!wait_until_ready(sock, /*for_writing=*/false, ms_until(deadline))) continue;
        SocketResult got = receive_some(sock, buffer.data(), most - data.size());
        if (got.status == SocketStatus::would_block) continue;
        if (got.status != SocketStatus::done) break;
        data.append(buffer.data(), got.bytes);
    }
    return data;
}

RawReply raw_exchange(int port, const std::string& request, bool hang_up) {
    auto started = Clock::now();
    SocketHandle sock = connect_loopback(port);
    send_bytes(sock, request);
    if (hang_up) hang_up_sending(sock);
    RawReply reply = read_reply(sock, std::chrono::seconds(10));
    close_socket(sock);
    reply.took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - started);
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
