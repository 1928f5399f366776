// Clients that hold connections open: the app keeps answering /health, and
// drops whoever does not send a request in time.
#include "app_fixture.h"
#include "platform/files.h"
#include "raw_http.h"
#include "sanitizers.h"

#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <future>
#include <thread>

#include <nlohmann/json.hpp>

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
    std::vector<SocketHandle> slow;
    for (int i = 0; i < 200; ++i) {
        slow.push_back(connect_loopback(app.port));
        send_bytes(slow.back(), "GET /api/health HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(app.port) + "\r\n");
    }
    auto opened = Clock::now();
    std::atomic<bool> stop{false};
    std::thread trickle([&] {
        while (!stop) {
            for (SocketHandle fd : slow) send_bytes(fd, "X-Slow: 1\r\n");
            for (int i = 0; i < 5 && !stop; ++i) std::this_thread::sleep_for(100ms);
        }
    });

    EXPECT_LT(slowest_health(30).count(), 500 * sanitizer_slowdown);

    // Each is dropped once its head is late, however steadily it sends.
    std::vector<pollfd> watch;
    for (SocketHandle fd : slow) watch.push_back({static_cast<int>(fd), POLLIN, 0});
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
    for (SocketHandle fd : slow) close_connection(fd);
}

TEST_F(LoadTest, ManyLargeFrameRequestsNeitherStallTheAppNorQueueWithoutLimit) {
    // A web page with 64 <img> tags of 4096x4096 frames.
    std::vector<SocketHandle> frames;
    std::string request = client_style_request("GET", "/api/frame.jpg?_=&width=4096&height=4096", app.port);
    for (int i = 0; i < 64; ++i) {
        frames.push_back(connect_loopback(app.port));
        send_bytes(frames.back(), request);
    }
    std::this_thread::sleep_for(200ms);
    EXPECT_LT(slowest_health(30).count(), 500 * sanitizer_slowdown);

    // Two are drawn at a time and 16 wait; the rest are refused at once.
    int busy = 0;
    for (SocketHandle fd : frames) {
        pollfd watch{static_cast<int>(fd), POLLIN, 0};
        if (poll(&watch, 1, 0) <= 0) continue;
        RawReply reply = read_reply(fd, 1s);
        if (reply.status == 503) {
            ++busy;
            EXPECT_NE(reply.body.find("vistrel-app is busy with other pictures"), std::string::npos) << reply.body;
        }
    }
    EXPECT_GE(busy, 64 - 2 - 16);
    EXPECT_LE(busy, 64 - 2);
    for (SocketHandle fd : frames) close_connection(fd);
    EXPECT_EQ(vistrel({"status"}).exit_status, 0);
}

// A refusal is a whole reply as much as an answer is: a status, an "error"
// text, and a length that is its body's.
void expect_whole_refusal(const RawReply& reply) {
    EXPECT_EQ(reply.status, 503) << reply.head;
    EXPECT_NE(reply.head.find("Content-Length: " + std::to_string(reply.body.size()) + "\r\n"), std::string::npos)
        << reply.head;
    auto body = nlohmann::json::parse(reply.body, nullptr, false);
    EXPECT_TRUE(body.is_object() && body.contains("error")) << reply.body;
}

TEST_F(LoadTest, ABurstOfWholeRequestsIsAnsweredOrRefusedNeverDropped) {
    // 600 connections at once, more than the app holds (512), each with a
    // whole request that waits to be read.
    std::vector<SocketHandle> burst;
    std::string request = client_style_request("GET", "/api/health", app.port);
    for (int i = 0; i < 600; ++i) {
        burst.push_back(connect_loopback(app.port));
        send_bytes(burst.back(), request);
    }
    int answered = 0, refused = 0, dropped = 0;
    for (SocketHandle fd : burst) {
        RawReply reply = read_reply(fd, 20s * sanitizer_slowdown);
        close_connection(fd);
        if (reply.status == 200) {
            ++answered;
        } else if (reply.status == 0) {
            ++dropped;
        } else {
            expect_whole_refusal(reply);
            ++refused;
        }
    }
    EXPECT_EQ(dropped, 0) << "connections reset or closed without a reply (" << answered << " answered, " << refused
                          << " refused)";
    EXPECT_GT(answered, 512);
}

// Slow work of every kind at once: none of it holds up health, devices and
// the sources list, nor the kinds of work beside it.
class LaneTest : public AppTest {
protected:
    // The slowest of `count` exchanges of each quick request.
    std::chrono::milliseconds slowest_quick_answer(int count) {
        std::chrono::milliseconds slowest{0};
        for (int i = 0; i < count; ++i) {
            for (const char* path : {"/api/health", "/api/devices", "/api/sources"}) {
                RawReply reply = raw_exchange(app.port, client_style_request("GET", path, app.port));
                EXPECT_EQ(reply.status, 200) << path << " " << reply.body;
                slowest = std::max(slowest, reply.took);
            }
        }
        return slowest;
    }

    // An exchange on its own thread, which waits for the reply as long as
    // slow work takes.
    std::future<RawReply> in_background(const std::string& request) {
        return std::async(std::launch::async, [this, request] {
            SocketHandle sock = connect_loopback(app.port);
            send_bytes(sock, request);
            RawReply reply = read_reply(sock, 60s * sanitizer_slowdown);
            close_connection(sock);
            return reply;
        });
    }
};

class SourcesLockTest : public LaneTest {
protected:
    static constexpr int lock_wait_ms = 1500;
    std::vector<std::string> extra_app_args() const override {
        return {"--sources-lock-ms", std::to_string(lock_wait_ms)};
    }
};

TEST_F(SourcesLockTest, SourceChangesWaitingForAnotherAppsLockHoldUpNothingElse) {
    // Another app holds the sources lock and does not let go.
    std::filesystem::path folder = std::filesystem::path(config_home) / "vistrel";
    std::filesystem::create_directories(folder);
    auto held = std::make_unique<FileLock>(folder / "sources.json.lock", Clock::now() + 1s);
    auto started = Clock::now();
    std::vector<std::future<RawReply>> additions;
    for (int i = 0; i < 8; ++i) {
        additions.push_back(in_background(
            client_style_request("POST", "/api/sources", app.port,
                                 R"({"name":"cam)" + std::to_string(i) + R"(","url":"http://192.0.2.1/shot.jpg"})")));
    }
    std::this_thread::sleep_for(200ms);
    EXPECT_LT(slowest_quick_answer(5).count(), 500 * sanitizer_slowdown);
    // Each waits from its own arrival, side by side, not one after another.
    for (auto& addition : additions) {
        RawReply reply = addition.get();
        EXPECT_EQ(reply.status, 409) << reply.body;
        EXPECT_NE(reply.body.find("another program is changing the sources"), std::string::npos) << reply.body;
    }
    EXPECT_LT(Clock::now() - started, std::chrono::milliseconds(lock_wait_ms) + 2s * sanitizer_slowdown);
    held.reset();
    EXPECT_EQ(vistrel({"add-source", "cam", "http://192.0.2.1/shot.jpg"}).exit_status, 0);
}

TEST_F(LaneTest, ControlsListsWaitingForTheCameraHoldUpNothingElse) {
    // The simulated camera lists its controls under the lock that its
    // 4096x4096 pictures hold for seconds.
    auto picture =
        in_background(client_style_request("GET", "/api/frame.jpg?_=&device=sim&width=4096&height=4096", app.port));
    std::vector<std::future<RawReply>> lists;
    std::this_thread::sleep_for(200ms);
    for (int i = 0; i < 6; ++i) {
        lists.push_back(in_background(client_style_request("GET", "/api/controls?device=sim", app.port)));
    }
    std::this_thread::sleep_for(200ms);
    EXPECT_LT(slowest_quick_answer(5).count(), 500 * sanitizer_slowdown);
    EXPECT_EQ(picture.wait_for(0s), std::future_status::timeout) << "the picture took too little time to tell";
    for (auto& list : lists) EXPECT_EQ(list.get().status, 200);
    EXPECT_EQ(picture.get().status, 200);
}

// Stops the display for as long as it lives.
struct StoppedDisplay {
    pid_t pid;
    explicit StoppedDisplay(pid_t p) : pid(p) { kill(pid, SIGSTOP); }
    ~StoppedDisplay() { kill(pid, SIGCONT); }
};

TEST_F(LaneTest, ScreenPicturesWaitingForTheDisplayHoldUpNoCamera) {
    // Once the app has looked at the display at its start.
    ASSERT_EQ(vistrel({"status"}).exit_status, 0);
    std::vector<std::future<RawReply>> screens;
    {
        // A display that does not answer, as a portal's dialog or a hung
        // compositor would not.
        StoppedDisplay stopped(xvfb.pid);
        for (int i = 0; i < 3; ++i) {
            screens.push_back(in_background(client_style_request("GET", "/api/frame.jpg?_=&device=screen", app.port)));
        }
        std::this_thread::sleep_for(300ms);
        for (int i = 0; i < 3; ++i) {
            RawReply camera = raw_exchange(
                app.port, client_style_request("GET", "/api/frame.jpg?_=&device=sim&width=320&height=240", app.port));
            EXPECT_EQ(camera.status, 200) << camera.body;
            EXPECT_LT(camera.took.count(), 2000 * sanitizer_slowdown);
        }
    }
    for (auto& screen : screens) EXPECT_NE(screen.get().status, 0);
}

// An app that may hold only 64 descriptors, as `ulimit -n 64` leaves it.
class LowDescriptorLimitTest : public AppTest {
protected:
    std::vector<std::string> app_launcher() const override {
        return {"/bin/sh", "-c", "ulimit -n 64 && exec \"$@\"", "sh"};
    }
};

TEST_F(LowDescriptorLimitTest, IdleConnectionsLeaveDescriptorsForTheWork) {
    // More idle connections than the app may hold descriptors.
    std::vector<SocketHandle> idle;
    for (int i = 0; i < 100; ++i) idle.push_back(connect_loopback(app.port));
    std::this_thread::sleep_for(200ms);
    RunResult added = vistrel({"add-source", "phone", "http://192.0.2.1/shot.jpg"});
    EXPECT_EQ(added.exit_status, 0) << added.err;
    RunResult sources = vistrel({"sources"});
    EXPECT_NE(sources.out.find("phone"), std::string::npos) << sources.out << sources.err;
    RunResult recorded = vistrel({"record", "--secs", "1", "--out", "clip.webm"});
    EXPECT_EQ(recorded.exit_status, 0) << recorded.err;
    RunResult snapped = vistrel({"snap", "--device", "sim", "--size", "320x240"});
    EXPECT_EQ(snapped.exit_status, 0) << snapped.err;
    for (SocketHandle fd : idle) close_connection(fd);
}
}  // namespace
