#include "fake_phone.h"

#include "imaging/image.h"
#include "imaging/jpeg.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <optional>
#include <stdexcept>

namespace {
Image gradient(int width, int height) {
    Image image = blank_image(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            std::uint8_t* px = &image.rgb[(static_cast<std::size_t>(y) * width + x) * 3];
            px[0] = static_cast<std::uint8_t>(x * 255 / width);
            px[1] = static_cast<std::uint8_t>(y * 255 / height);
            px[2] = 128;
        }
    }
    return image;
}

void send_all(int fd, const std::string& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return;
        sent += static_cast<std::size_t>(n);
    }
}

std::string reply(int status, const char* type, const std::string& body) {
    return "HTTP/1.1 " + std::to_string(status) + (status == 200 ? " OK" : " Not Found") + "\r\nContent-Type: " + type +
           "\r\nContent-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

// The request's path, once its head is in; "" when it does not come.
std::string read_path(int fd) {
    std::string head;
    char buffer[4096];
    while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536) {
        pollfd watch{fd, POLLIN, 0};
        if (::poll(&watch, 1, 5000) <= 0) return "";
        ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) return "";
        head.append(buffer, static_cast<std::size_t>(n));
    }
    std::size_t first = head.find(' ');
    std::size_t second = head.find(' ', first + 1);
    if (first == std::string::npos || second == std::string::npos) return "";
    return head.substr(first + 1, second - first - 1);
}
}  // namespace

std::string jpeg_declaring(int width, int height) {
    std::string bytes = encode_jpeg(gradient(16, 16));
    // SOF0: FF C0, length (2), precision (1), height (2), width (2).
    std::size_t sof = bytes.find("\xFF\xC0");
    if (sof == std::string::npos) throw std::runtime_error("no SOF0 marker");
    bytes[sof + 5] = static_cast<char>(height >> 8);
    bytes[sof + 6] = static_cast<char>(height & 0xFF);
    bytes[sof + 7] = static_cast<char>(width >> 8);
    bytes[sof + 8] = static_cast<char>(width & 0xFF);
    return bytes;
}

FakePhone::FakePhone() : jpeg(encode_jpeg(gradient(320, 240))), bomb(jpeg_declaring(16000, 16000)) {
    listen_fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(listen_fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listen_fd_, 64) != 0 ||
        ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        throw std::runtime_error("the fake phone cannot listen");
    }
    port = ntohs(address.sin_port);
    acceptor_ = std::thread([this] { accept_loop(); });
}

FakePhone::~FakePhone() {
    stopping_ = true;
    acceptor_.join();
    ::close(listen_fd_);
    std::lock_guard lock(mutex_);
    for (auto& connection : connections_) connection.join();
}

void FakePhone::accept_loop() {
    while (!stopping_) {
        pollfd watch{listen_fd_, POLLIN, 0};
        if (::poll(&watch, 1, 50) <= 0) continue;
        int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        std::lock_guard lock(mutex_);
        connections_.emplace_back([this, fd] {
            serve(fd);
            ::close(fd);
        });
    }
}

void FakePhone::script(const std::string& path, const std::string& bytes) {
    std::lock_guard lock(mutex_);
    scripted_[path] = bytes;
}

void FakePhone::serve(int fd) {
    std::string path = read_path(fd);
    std::optional<std::string> scripted;
    {
        std::lock_guard lock(mutex_);
        if (auto it = scripted_.find(path); it != scripted_.end()) scripted = it->second;
    }
    if (scripted) {
        send_all(fd, *scripted);
    } else if (path == "/shot.jpg") {
        send_all(fd, reply(200, "image/jpeg", jpeg));
    } else if (path == "/page.html") {
        send_all(fd, reply(200, "text/html", "<html><body>not a photo</body></html>"));
    } else if (path == "/bomb.jpg") {
        send_all(fd, reply(200, "image/jpeg", bomb));
    } else if (path == "/trickle.jpg") {
        trickle(fd);
    } else if (!path.empty()) {
        send_all(fd, reply(404, "text/plain", "not found"));
    }
    // Let the reader see the end before the socket goes.
    ::shutdown(fd, SHUT_WR);
}

void FakePhone::trickle(int fd) {
    ++trickles_started;
    std::string head = reply(200, "image/jpeg", jpeg);
    std::size_t body_start = head.find("\r\n\r\n") + 4;
    send_all(fd, head.substr(0, body_start));
    for (std::size_t i = body_start; i < head.size() && !stopping_; ++i) {
        if (::send(fd, &head[i], 1, MSG_NOSIGNAL) != 1) break;
        // The app hanging up shows as the end of the stream.
        pollfd watch{fd, POLLIN | POLLRDHUP, 0};
        if (::poll(&watch, 1, 100) > 0) break;
    }
    trickle_ended_at = std::chrono::steady_clock::now().time_since_epoch().count();
    ++trickles_ended;
}

int closed_port() {
    // Bound and closed again: nothing listens there for the length of a test.
    int sock = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(sock, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    getsockname(sock, reinterpret_cast<sockaddr*>(&address), &length);
    close(sock);
    return ntohs(address.sin_port);
}
