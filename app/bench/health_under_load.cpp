// How long /health takes while the app is under load: with no load, while
// N connections send their request heads slowly, and while N frame requests
// are kept in flight (each one answered is replaced at once). Prints the
// 50th and 99th percentile and the longest, in milliseconds.
//
//   vistrel_app_health_bench PORT idle|slow-heads|frames N PROBES [FRAME_SIDE]
#include "raw_http.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <thread>
#include <vector>

namespace {
using Clock = std::chrono::steady_clock;

// A connection to the app, or -1 when it is refused.
int connect_to(int port) {
    try {
        return connect_loopback(port);
    } catch (const std::exception&) {
        return -1;
    }
}

// One /health exchange as the client makes it; its time in milliseconds, or
// -1 when it failed.
double probe(int port) {
    auto started = Clock::now();
    int fd = connect_to(port);
    if (fd < 0) return -1;
    std::string request = client_style_request("GET", "/api/health", port);
    if (send(fd, request.data(), request.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(request.size())) {
        close(fd);
        return -1;
    }
    std::string reply;
    char buffer[4096];
    for (;;) {
        ssize_t n = recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        reply.append(buffer, static_cast<std::size_t>(n));
    }
    close(fd);
    if (reply.rfind("HTTP/1.1 200", 0) != 0) return -1;
    return std::chrono::duration<double, std::milli>(Clock::now() - started).count();
}

void slow_heads(int port, int count, std::atomic<bool>& stop) {
    std::vector<int> fds;
    for (int i = 0; i < count; ++i) {
        int fd = connect_to(port);
        if (fd < 0) continue;
        std::string line = "GET /api/health HTTP/1.1\r\n";
        (void)!send(fd, line.data(), line.size(), MSG_NOSIGNAL);
        fds.push_back(fd);
    }
    while (!stop) {
        for (int fd : fds) (void)!send(fd, "X-Slow: 1\r\n", 11, MSG_NOSIGNAL);
        for (int i = 0; i < 10 && !stop; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    for (int fd : fds) close(fd);
}

// Keeps `count` frame requests open: each one that ends is sent again.
void frames_in_flight(int port, int count, int side, std::atomic<bool>& stop, std::atomic<int>& answered,
                      std::atomic<int>& busy) {
    std::string request = client_style_request(
        "GET", "/api/frame.jpg?_=&width=" + std::to_string(side) + "&height=" + std::to_string(side), port);
    std::vector<pollfd> watch;
    auto open_one = [&]() {
        int fd = connect_to(port);
        if (fd >= 0) (void)!send(fd, request.data(), request.size(), MSG_NOSIGNAL);
        return fd;
    };
    std::vector<std::string> replies(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) watch.push_back({open_one(), POLLIN, 0});
    char buffer[65536];
    while (!stop) {
        if (poll(watch.data(), watch.size(), 100) <= 0) continue;
        for (std::size_t i = 0; i < watch.size(); ++i) {
            if (!(watch[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            ssize_t n = recv(watch[i].fd, buffer, sizeof buffer, 0);
            if (n > 0) {
                if (replies[i].size() < 16) replies[i].append(buffer, static_cast<std::size_t>(n));
                continue;
            }
            if (replies[i].rfind("HTTP/1.1 503", 0) == 0) ++busy;
            ++answered;
            replies[i].clear();
            close(watch[i].fd);
            watch[i].fd = open_one();
        }
    }
    for (auto& w : watch) close(w.fd);
}
}  // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        std::fprintf(stderr, "usage: %s PORT idle|slow-heads|frames N PROBES [FRAME_SIDE]\n", argv[0]);
        return 2;
    }
    int port = std::atoi(argv[1]);
    std::string load = argv[2];
    int count = std::atoi(argv[3]);
    int probes = std::atoi(argv[4]);
    int side = argc > 5 ? std::atoi(argv[5]) : 4096;

    std::atomic<bool> stop{false};
    std::atomic<int> answered{0}, busy{0};
    std::thread loader;
    if (load == "slow-heads") {
        loader = std::thread(slow_heads, port, count, std::ref(stop));
    } else if (load == "frames") {
        loader = std::thread(frames_in_flight, port, count, side, std::ref(stop), std::ref(answered), std::ref(busy));
    }
    // Let the load build up before measuring.
    std::this_thread::sleep_for(std::chrono::seconds(load == "idle" ? 0 : 2));

    std::vector<double> times;
    int failed = 0;
    for (int i = 0; i < probes; ++i) {
        double ms = probe(port);
        if (ms < 0) {
            ++failed;
        } else {
            times.push_back(ms);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    stop = true;
    if (loader.joinable()) loader.join();

    std::sort(times.begin(), times.end());
    auto at = [&](double q) { return times.empty() ? -1.0 : times[static_cast<std::size_t>(q * (times.size() - 1))]; };
    std::printf("%-10s n=%-4d probes=%d failed=%d  p50 %.1f ms  p99 %.1f ms  max %.1f ms", load.c_str(), count, probes,
                failed, at(0.50), at(0.99), times.empty() ? -1.0 : times.back());
    if (load == "frames") std::printf("  (frame replies %d, of them 503 busy %d)", answered.load(), busy.load());
    std::printf("\n");
    return failed ? 1 : 0;
}
