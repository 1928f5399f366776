// Clients that hold connections open: the app keeps answering /health, and
// drops whoever does not send a request in time.
#include "app_fixture.h"
#include "raw_http.h"
#include "sanitizers.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <thread>

namespace {
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

class LoadTest : public AppTest {
protected:
    static constexpr int head_deadline_ms = 3000;
    std::vector<std::string> extra_app_args() const override {
        return {"--head-deadline-ms", std::to_string(head_deadline_ms)};
    }

    // /health as the client asks for it, `count` times; the slowest answer.
    std::chrono::milliseconds slowest_health(int count) {
        std::chrono::milliseconds slowest{0};
        for (int i = 0; i < count; ++i) {
            RawReply reply = raw_exchange(app.port, client_style_request("GET", "/api/health", app.port));
            EXPECT_EQ(reply.status, 200);
            slowest = std::max(slowest, reply.took);
            std::this_thread::sleep_for(20ms);
        }
        return slowest;
    }
};

TEST_F(LoadTest, SlowRequestHeadsNeitherStallTheAppNorStayForever) {
    // 200 connections that each send a header line every half second, as a
    // slow or hostile client would.
    std::vector<int> slow;
    for (int i = 0; i < 200; ++i) {
        slow.push_back(connect_loopback(app.port));
        send_bytes(slow.back(), "GET /api/health HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(app.port) + "\r\n");
    }
    auto opened = Clock::now();
    std::atomic<bool> stop{false};
    std::thread trickle([&] {
        while (!stop) {
            for (int fd : slow) send_bytes(fd, "X-Slow: 1\r\n");
            for (int i = 0; i < 5 && !stop; ++i) std::this_thread::sleep_for(100ms);
        }
    });

    EXPECT_LT(slowest_health(30).count(), 500 * sanitizer_slowdown);

    // Each is dropped once its head is late, however steadily it sends.
    std::vector<pollfd> watch;
    for (int fd : slow) watch.push_back({fd, POLLIN, 0});
    std::size_t closed = 0;
    auto deadline = opened + std::chrono::milliseconds(head_deadline_ms) + 5s * sanitizer_slowdown;
    while (closed < watch.size() && Clock::now() < deadline) {
        if (poll(watch.data(), watch.size(), 100) <= 0) continue;
        for (auto& w : watch) {
            if (w.fd >= 0 && (w.revents & (POLLIN | POLLHUP | POLLERR))) {
                char byte;
                if (recv(w.fd, &byte, 1, MSG_DONTWAIT) <= 0) {
                    EXPECT_GE(Clock::now() - opened, std::chrono::milliseconds(head_deadline_ms - 100));
                    w.fd = -w.fd - 1;  // poll skips negative descriptors
                    ++closed;
                }
            }
        }
    }
    stop = true;
    trickle.join();
    EXPECT_EQ(closed, slow.size()) << "connections that never finished their request were kept";
    for (int fd : slow) close(fd);
}

TEST_F(LoadTest, ManyLargeFrameRequestsNeitherStallTheAppNorQueueWithoutLimit) {
    // A web page with 64 <img> tags of 4096x4096 frames.
    std::vector<int> frames;
    std::string request = client_style_request("GET", "/api/frame.jpg?_=&width=4096&height=4096", app.port);
    for (int i = 0; i < 64; ++i) {
        frames.push_back(connect_loopback(app.port));
        send_bytes(frames.back(), request);
    }
    std::this_thread::sleep_for(200ms);
    EXPECT_LT(slowest_health(30).count(), 500 * sanitizer_slowdown);

    // Two are drawn at a time and 16 wait; the rest are refused at once.
    int busy = 0;
    for (int fd : frames) {
        pollfd watch{fd, POLLIN, 0};
        if (poll(&watch, 1, 0) <= 0) continue;
        RawReply reply = read_reply(fd, 1s);
        if (reply.status == 503) {
            ++busy;
            EXPECT_NE(reply.body.find("vistrel-app is busy with other pictures"), std::string::npos) << reply.body;
        }
    }
    EXPECT_GE(busy, 64 - 2 - 16);
    EXPECT_LE(busy, 64 - 2);
    for (int fd : frames) close(fd);
    EXPECT_EQ(vistrel({"status"}).exit_status, 0);
}
}  // namespace
