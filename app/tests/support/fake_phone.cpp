#include "fake_phone.h"

#include <optional>
#include <stdexcept>

namespace {
using Clock = std::chrono::steady_clock;

void send_all(SocketHandle sock, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        SocketResult wrote = send_some(sock, std::string_view(bytes).substr(sent));
        if (wrote.status == SocketStatus::would_block) {
            if (!wait_until_ready(sock, /*for_writing=*/true, 5000)) return;
            continue;
        }
        if (wrote.status != SocketStatus::done) return;
        sent += wrote.bytes;
    }
}

std::string reply(int status, const char* type, const std::string& body) {
    return "HTTP/1.1 " + std::to_string(status) + (status == 200 ? " OK" : " Not Found") + "\r\nContent-Type: " + type +
           "\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

// The request's path, once its head is in; "" when it does not come.
std::string read_path(SocketHandle sock) {
    std::string head;
    char buffer[4096];
    auto deadline = Clock::now() + std::chrono::seconds(5);
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536) {
        if (Clock::now() >= deadline) return "";
        if (!wait_until_ready(sock, /*for_writing=*/false, 100)) continue;
        SocketResult got = receive_some(sock, buffer, sizeof buffer);
        if (got.status == SocketStatus::would_block) continue;
        if (got.status != SocketStatus::done) return "";
        head.append(buffer, got.bytes);
    }
    std::size_t first = head.find(' ');
    std::size_t second = head.find(' ', first + 1);
    if (first == std::string::npos || second == std::string::npos) return "";
    return head.substr(first + 1, second - first - 1);
}
}  // namespace

FakePhone::FakePhone() : jpeg(phone_photo()), bomb(jpeg_declaring(16000, 16000)) {
    if (auto problem = start_sockets()) throw std::runtime_error(*problem);
    Listening listening = listen_on_loopback(0);
    if (listening.socket == no_socket) throw std::runtime_error("the fake phone cannot listen: " + listening.error);
    listener_ = listening.socket;
    port = listening.port;
    acceptor_ = std::thread([this] { accept_loop(); });
}

FakePhone::~FakePhone() {
    stopping_ = true;
    acceptor_.join();
    close_socket(listener_);
    std::lock_guard lock(mutex_);
    for (auto& connection : connections_) connection.join();
}

void FakePhone::accept_loop() {
    while (!stopping_) {
        if (!wait_until_ready(listener_, /*for_writing=*/false, 50)) continue;
        SocketResult accepted = accept_connection(listener_);
        if (accepted.status != SocketStatus::done) continue;
        std::lock_guard lock(mutex_);
        connections_.emplace_back([this, sock = accepted.socket] {
            serve(sock);
            close_socket(sock);
        });
    }
}

void FakePhone::script(const std::string& path, const std::string& bytes) {
    std::lock_guard lock(mutex_);
    scripted_[path] = bytes;
}

void FakePhone::serve(SocketHandle sock) {
    std::string path = read_path(sock);
    std::optional<std::string> scripted;
    {
        std::lock_guard lock(mutex_);
        if (auto it = scripted_.find(path); it != scripted_.end()) scripted = it->second;
    }
    if (scripted) {
        send_all(sock, *scripted);
    } else if (path == "/shot.jpg") {
        send_all(sock, reply(200, "image/jpeg", jpeg));
    } else if (path == "/page.html") {
        send_all(sock, reply(200, "text/html", "<html><body>not a photo</body></html>"));
    } else if (path == "/bomb.jpg") {
        send_all(sock, reply(200, "image/jpeg", bomb));
    } else if (path == "/trickle.jpg") {
        trickle(sock);
    } else if (!path.empty()) {
        send_all(sock, reply(404, "text/plain", "not found"));
    }
    // Let the reader see the end before the socket goes.
    shut_down_sending(sock);
}

void FakePhone::trickle(SocketHandle sock) {
    ++trickles_started;
    std::string head = reply(200, "image/jpeg", jpeg);
    std::size_t body_start = head.find("\r\n\r\n") + 4;
    send_all(sock, head.substr(0, body_start));
    for (std::size_t i = body_start; i < head.size() && !stopping_; ++i) {
        SocketResult wrote = send_some(sock, std::string_view(head).substr(i, 1));
        if (wrote.status != SocketStatus::done || wrote.bytes != 1) break;
        // The app sends nothing after its request: anything to read is the
        // app hanging up.
        if (wait_until_ready(sock, /*for_writing=*/false, 100)) break;
    }
    trickle_ended_at = Clock::now().time_since_epoch().count();
    ++trickles_ended;
}

int closed_port() {
    // Bound and closed again: nothing listens there for the length of a test.
    Listening listening = listen_on_loopback(0);
    close_socket(listening.socket);
    return listening.port;
}
