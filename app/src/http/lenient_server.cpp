#include "http/lenient_server.h"

#include "http/request_line.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>

namespace {
// Longest request line read ahead; the library refuses longer targets itself.
constexpr std::size_t max_request_line = 16 * 1024;

bool wait_for(socket_t sock, short events, int timeout_ms) {
    pollfd fd{sock, events, 0};
    for (;;) {
        int rc = ::poll(&fd, 1, timeout_ms);
        if (rc < 0 && errno == EINTR) continue;
        return rc > 0;
    }
}

void describe(const sockaddr_storage& address, std::string& ip, int& port) {
    char text[INET6_ADDRSTRLEN] = "";
    if (address.ss_family == AF_INET) {
        const auto* v4 = reinterpret_cast<const sockaddr_in*>(&address);
        inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text);
        port = ntohs(v4->sin_port);
    } else if (address.ss_family == AF_INET6) {
        const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&address);
        inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text);
        port = ntohs(v6->sin6_port);
    }
    ip = text;
}

class ConnectionStream final : public httplib::Stream {
public:
    ConnectionStream(socket_t sock, int read_timeout_ms, int write_timeout_ms)
        : sock_(sock), read_timeout_ms_(read_timeout_ms), write_timeout_ms_(write_timeout_ms) {}

    // Reads ahead up to the end of the request line and repairs it.
    void read_request_line() {
        char chunk[4096];
        while (buffer_.find('\n') == std::string::npos && buffer_.size() < max_request_line) {
            ssize_t n = receive(chunk, sizeof chunk);
            if (n <= 0) return;
            buffer_.append(chunk, static_cast<std::size_t>(n));
        }
        std::size_t end = buffer_.find('\n');
        if (end == std::string::npos) return;
        buffer_ = repair_request_line(buffer_.substr(0, end + 1)) + buffer_.substr(end + 1);
    }

    bool is_readable() const override { return offset_ < buffer_.size() || wait_for(sock_, POLLIN, read_timeout_ms_); }

    bool is_writable() const override { return wait_for(sock_, POLLOUT, write_timeout_ms_); }

    ssize_t read(char* ptr, size_t size) override {
        if (offset_ >= buffer_.size()) {
            buffer_.resize(4096);
            ssize_t n = receive(buffer_.data(), buffer_.size());
            buffer_.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
            offset_ = 0;
            if (n <= 0) return n;
        }
        std::size_t count = std::min(size, buffer_.size() - offset_);
        std::memcpy(ptr, buffer_.data() + offset_, count);
        offset_ += count;
        return static_cast<ssize_t>(count);
    }

    ssize_t write(const char* ptr, size_t size) override {
        if (!wait_for(sock_, POLLOUT, write_timeout_ms_)) return -1;
        for (;;) {
            ssize_t n = ::send(sock_, ptr, size, MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR) continue;
            return n;
        }
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override {
        sockaddr_storage address{};
        socklen_t length = sizeof address;
        if (::getpeername(sock_, reinterpret_cast<sockaddr*>(&address), &length) == 0) describe(address, ip, port);
    }

    void get_local_ip_and_port(std::string& ip, int& port) const override {
        sockaddr_storage address{};
        socklen_t length = sizeof address;
        if (::getsockname(sock_, reinterpret_cast<sockaddr*>(&address), &length) == 0) describe(address, ip, port);
    }

    socket_t socket() const override { return sock_; }

private:
    // Once the client has gone quiet past the timeout, or has closed, every
    // later read fails at once instead of waiting again.
    ssize_t receive(char* ptr, size_t size) {
        if (ended_) return -1;
        if (!wait_for(sock_, POLLIN, read_timeout_ms_)) {
            ended_ = true;
            return -1;
        }
        for (;;) {
            ssize_t n = ::recv(sock_, ptr, size, 0);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) ended_ = true;
            return n;
        }
    }

    socket_t sock_;
    int read_timeout_ms_;
    int write_timeout_ms_;
    std::string buffer_;
    std::size_t offset_ = 0;
    bool ended_ = false;
};

// Half-closes, then reads and drops what the client still sends until it
// closes too, for at most two seconds.
void finish_connection(socket_t sock) {
    ::shutdown(sock, SHUT_WR);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    char sink[16384];
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 || !wait_for(sock, POLLIN, static_cast<int>(left.count()))) break;
        ssize_t n = ::recv(sock, sink, sizeof sink, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
    }
    ::close(sock);
}
}  // namespace

bool LenientServer::process_and_close_socket(socket_t sock) {
    bool handled = false;
    try {
        ConnectionStream stream(sock, static_cast<int>(read_timeout_sec_ * 1000 + read_timeout_usec_ / 1000),
                                static_cast<int>(write_timeout_sec_ * 1000 + write_timeout_usec_ / 1000));
        stream.read_request_line();
        bool connection_closed = false;
        handled = process_request(stream, /*close_connection=*/true, connection_closed, nullptr);
    } catch (...) {
        // Handlers catch their own exceptions; this keeps a library surprise
        // from ending the worker thread, and with it the app.
    }
    finish_connection(sock);
    return handled;
}
