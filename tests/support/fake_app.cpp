#include "fake_app.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>

ScriptedReply http_reply(int status, const std::string& body, const std::string& headers) {
    return ScriptedReply{"HTTP/1.1 " + std::to_string(status) + " X\r\n" + headers +
                         "Content-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body};
}

ScriptedReply json_reply(const std::string& body, int status) {
    return http_reply(status, body, "Content-Type: application/json\r\n");
}

namespace {
int listen_on_loopback(std::uint16_t& port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) throw std::runtime_error("socket");
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) < 0 || listen(fd, 16) < 0) {
        close(fd);
        throw std::runtime_error("bind/listen");
    }
    socklen_t length = sizeof address;
    getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    return fd;
}

void reset_and_close(int fd) {
    linger hard{1, 0};
    setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    close(fd);
}

void send_all(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t sent = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (sent <= 0) {
            if (sent < 0 && errno == EINTR) continue;
            return;
        }
        done += static_cast<std::size_t>(sent);
    }
}

// Reads one request: the head up to the empty line, then Content-Length bytes.
std::string read_request(int fd) {
    std::string request;
    char buffer[65536];
    std::size_t wanted = std::string::npos;
    for (;;) {
        if (wanted == std::string::npos) {
            std::size_t end = request.find("\r\n\r\n");
            if (end != std::string::npos) {
                std::size_t length = 0;
                std::size_t header = request.find("\r\nContent-Length: ");
                if (header != std::string::npos && header < end) {
                    length = std::stoul(request.substr(header + 18));
                }
                wanted = end + 4 + length;
            }
        }
        if (wanted != std::string::npos && request.size() >= wanted) return request;
        pollfd watch{fd, POLLIN, 0};
        if (poll(&watch, 1, 20000) <= 0) return request;  // a client that stalls
        ssize_t got = recv(fd, buffer, sizeof buffer, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return request;
        request.append(buffer, static_cast<std::size_t>(got));
    }
}
}  // namespace

FakeApp::FakeApp(std::vector<ScriptedReply> replies) : replies_(std::move(replies)) {
    listener_ = listen_on_loopback(port_);
    if (pipe(wake_) < 0) throw std::runtime_error("pipe");
    thread_ = std::thread([this] { serve(); });
}

FakeApp::~FakeApp() {
    (void)!write(wake_[1], "x", 1);
    thread_.join();
    for (int connection : held_) close(connection);
    close(listener_);
    close(wake_[0]);
    close(wake_[1]);
}

std::vector<std::string> FakeApp::requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

int FakeApp::hang_ups() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return hang_ups_;
}

void FakeApp::serve() {
    for (std::size_t served = 0;; ++served) {
        pollfd watch[2] = {{listener_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        if (poll(watch, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (watch[1].revents != 0) return;
        int connection = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0) continue;
        answer(connection, served < replies_.size() ? replies_[served] : ScriptedReply{});
    }
}

void FakeApp::answer(int connection, const ScriptedReply& reply) {
    if (reply.ending == ScriptedReply::Ending::reset_at_once) {
        reset_and_close(connection);
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back("");
        return;
    }
    std::string request = read_request(connection);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(request);
    }
    send_all(connection, reply.bytes);
    if (reply.ending == ScriptedReply::Ending::until_hang_up) {
        pollfd watch{connection, POLLIN, 0};
        char byte;
        bool hung_up = false;
        while (!hung_up && poll(&watch, 1, 20000) > 0) hung_up = recv(connection, &byte, 1, 0) <= 0;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            if (hung_up) ++hang_ups_;
        }
        close(connection);
    } else if (reply.ending == ScriptedReply::Ending::hold) {
        held_.push_back(connection);
    } else if (reply.ending == ScriptedReply::Ending::reset) {
        // Let the bytes arrive first: some socket layers drop a reset that
        // follows data at once.
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        reset_and_close(connection);
    } else {
        close(connection);
    }
}

std::uint16_t closed_port() {
    std::uint16_t port = 0;
    int fd = listen_on_loopback(port);
    close(fd);
    return port;
}
