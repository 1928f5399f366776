// The server in process, with short limits and toy handlers.
#include "http/http_server.h"
#include "raw_http.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <nlohmann/json.hpp>
#include <thread>

namespace {
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

std::string request(const std::string& method, const std::string& target, const std::string& extra = "",
                    const std::string& body = "") {
    std::string text = method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n" + extra;
    if (!body.empty() && extra.find("ransfer-") == std::string::npos) {
        text += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    }
    return text + "\r\n" + body;
}

class ServerTest : public ::testing::Test {
protected:
    enum Lane : std::size_t { quick, heavy, waiting };

    virtual ServerLimits limits() const {
        ServerLimits limits;
        limits.head_time = 300ms;
        limits.body_time = 300ms;
        limits.linger_time = 200ms;
        limits.stop_time = 2000ms;
        limits.max_body = 1024;
        limits.max_connections = 16;
        return limits;
    }

    void SetUp() override {
        ServerSettings settings;
        settings.limits = limits();
        settings.lanes = {{"quick", 2, 64, 0, false, "quick is busy"},
                          {"heavy", 1, 1, 0, true, "heavy is busy"},
                          {"waiting", 16, 16, 0, false, "waiting is busy"}};
        settings.router = [this](const HttpRequest& r) { return route(r); };
        server = std::make_unique<HttpServer>(std::move(settings));
        std::string error;
        port = server->listen_on(0, error);
        ASSERT_GT(port, 0) << error;
        thread = std::thread([this] { server->run(); });
    }

    void TearDown() override {
        release.set_value();
        server->stop();
        thread.join();
        server.reset();
    }

    Routing route(const HttpRequest& r) {
        if (r.path == "/quick")
            return {std::nullopt, quick, [](const HttpRequest&) { return json_reply({{"ok", 1}}); }};
        if (r.path == "/echo") {
            return {std::nullopt, quick, [](const HttpRequest& q) {
                        return bytes_reply(q.body + "|" + q.target + "|" + query_value(q, "x"), "text/plain");
                    }};
        }
        if (r.path == "/large") {
            return {std::nullopt, quick,
                    [](const HttpRequest&) { return bytes_reply(std::string(16 << 20, 'x'), "text/plain"); }};
        }
        if (r.path == "/wait") {
            return {std::nullopt, waiting, [this](const HttpRequest&) {
                        released.wait();
                        return json_reply({{"waited", 1}});
                    }};
        }
        if (r.path == "/block") {
            return {std::nullopt, heavy, [this](const HttpRequest&) {
                        released.wait();
                        return json_reply({{"done", 1}});
                    }};
        }
        if (r.path == "/count") {
            return {std::nullopt, heavy, [this](const HttpRequest&) {
                        ++counted;
                        return json_reply({{"n", counted.load()}});
                    }};
        }
        if (r.path == "/work") {
            // Work that takes a while and stops when its client is gone, as
            // a picture or a recording does.
            return {std::nullopt, heavy, [](const HttpRequest& q) -> Reply {
                        auto until = Clock::now() + 300ms;
                        while (Clock::now() < until) {
                            if (q.cancelled()) throw Cancelled{};
                            std::this_thread::sleep_for(5ms);
                        }
                        return json_reply({{"done", true}});
                    }};
        }
        if (r.path == "/hold-the-server") {
            // Routing runs on the server's own thread: while it sleeps,
            // connections pile up unaccepted, as in a burst.
            std::this_thread::sleep_for(std::chrono::milliseconds(std::stoi(query_value(r, "ms"))));
            return {error_reply(503, "held"), 0, {}};
        }
        if (r.path == "/until-cancelled") {
            return {std::nullopt, heavy, [this](const HttpRequest& q) -> Reply {
                        started.set_value();
                        while (!q.cancelled()) std::this_thread::sleep_for(5ms);
                        cancelled_at = Clock::now();
                        saw_cancel.set_value();
                        throw Cancelled{};
                    }};
        }
        return {error_reply(404, "no such path"), 0, {}};
    }

    std::unique_ptr<HttpServer> server;
    std::thread thread;
    int port = 0;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<int> counted{0};
    std::promise<void> started, saw_cancel;
    Clock::time_point cancelled_at;
};

TEST_F(ServerTest, AnswersOneRequestPerConnectionAndCloses) {
    RawReply reply = raw_exchange(port, request("GET", "/echo?x=a b&y=1"));
    EXPECT_EQ(reply.status, 200);
    EXPECT_TRUE(reply.closed_by_app);
    EXPECT_NE(reply.head.find("Connection: close"), std::string::npos);
    EXPECT_NE(reply.head.find("Content-Length: 20\r\n"), std::string::npos) << reply.head;
    EXPECT_EQ(reply.body, "|/echo?x=a b&y=1|a b");

    RawReply posted = raw_exchange(port, request("POST", "/echo", "", "{\"a\":1}"));
    EXPECT_EQ(posted.body, "{\"a\":1}|/echo|");
    RawReply chunked = raw_exchange(
        port, request("POST", "/echo", "Transfer-Encoding: chunked\r\n", "3\r\nabc\r\n2\r\nde\r\n0\r\n\r\n"));
    EXPECT_EQ(chunked.body, "abcde|/echo|");
    RawReply missing = raw_exchange(port, request("GET", "/nothing"));
    EXPECT_EQ(missing.status, 404);
    EXPECT_EQ(missing.body, "{\"error\":\"no such path\"}");
}

TEST_F(ServerTest, SlowHeadsAreDroppedWhileOthersAreServed) {
    std::vector<SocketHandle> slow;
    for (int i = 0; i < 10; ++i) {
        slow.push_back(connect_loopback(port));
        send_bytes(slow.back(), "GET /quick HTTP/1.1\r\nHost: 127.0.0.1\r\n");
    }
    auto opened = Clock::now();
    for (int i = 0; i < 5; ++i) {
        RawReply reply = raw_exchange(port, request("GET", "/quick"));
        EXPECT_EQ(reply.status, 200);
        EXPECT_LT(reply.took.count(), 1000);
    }
    // The head's deadline counts from the connection, however steadily
    // header lines keep coming.
    for (int round = 0; round < 3; ++round) {
        for (SocketHandle fd : slow) send_bytes(fd, "X-Slow: 1\r\n");
        std::this_thread::sleep_for(50ms);
    }
    for (SocketHandle fd : slow) {
        EXPECT_TRUE(closed_within(fd, 3000ms));
        close_connection(fd);
    }
    EXPECT_GE(Clock::now() - opened, 300ms);
}

TEST_F(ServerTest, EveryBodyHasOneLimitAndBrokenLengthsAreRefusedAtOnce) {
    // Chunked: refused while the client is still sending, not after.
    SocketHandle fd = connect_loopback(port);
    send_bytes(fd, request("POST", "/echo", "Transfer-Encoding: chunked\r\n"));
    std::string chunk = "100\r\n" + std::string(256, 'x') + "\r\n";
    for (int i = 0; i < 5; ++i) send_bytes(fd, chunk);
    RawReply reply = read_reply(fd, 2000ms);
    close_connection(fd);
    EXPECT_EQ(reply.status, 413);
    EXPECT_EQ(reply.body, "{\"error\":\"the request body is too large (at most 1 KiB)\"}");

    struct Case {
        std::string extra;
        int status;
    };
    const Case cases[] = {
        {"Content-Length: 1025\r\n", 413},
        {"Content-Length: -1\r\n", 400},
        {"Content-Length: abc\r\n", 400},
        {"Content-Length: 1\r\nContent-Length: 1\r\n", 400},
        {"Content-Length: 3\r\nTransfer-Encoding: chunked\r\n", 400},
        {"Transfer-Encoding: gzip\r\n", 501},
    };
    for (const auto& c : cases) {
        // Nothing of the body is sent: the answer must not wait for it.
        RawReply refused = raw_exchange(port, request("POST", "/echo", c.extra));
        EXPECT_EQ(refused.status, c.status) << c.extra;
        EXPECT_LT(refused.took.count(), 250) << c.extra;
        EXPECT_TRUE(refused.closed_by_app) << c.extra;
    }
    // A body that does not come in time.
    RawReply late = raw_exchange(port, request("POST", "/echo", "Content-Length: 10\r\n") + "abc");
    EXPECT_EQ(late.status, 0);
    EXPECT_TRUE(late.closed_by_app);
}

TEST_F(ServerTest, CheapRequestsNeverWaitBehindExpensiveOnes) {
    auto first = std::async(std::launch::async, [&] { return raw_exchange(port, request("GET", "/block")); });
    std::this_thread::sleep_for(100ms);
    auto second = std::async(std::launch::async, [&] { return raw_exchange(port, request("GET", "/block")); });
    std::this_thread::sleep_for(100ms);
    // One running, one waiting: the next is turned away at once.
    RawReply third = raw_exchange(port, request("GET", "/block"));
    EXPECT_EQ(third.status, 503);
    EXPECT_EQ(third.body, "{\"error\":\"heavy is busy\"}");
    EXPECT_LT(third.took.count(), 500);
    for (int i = 0; i < 5; ++i) {
        RawReply quick = raw_exchange(port, request("GET", "/quick"));
        EXPECT_EQ(quick.status, 200);
        EXPECT_LT(quick.took.count(), 500);
    }
    release.set_value();
    release = std::promise<void>();
    EXPECT_EQ(first.get().status, 200);
    EXPECT_EQ(second.get().status, 200);
}

TEST_F(ServerTest, AClientThatHangsUpCancelsItsWork) {
    SocketHandle fd = connect_loopback(port);
    send_bytes(fd, request("GET", "/until-cancelled"));
    started.get_future().wait();
    auto hung_up = Clock::now();
    close_connection(fd);
    ASSERT_EQ(saw_cancel.get_future().wait_for(2s), std::future_status::ready);
    EXPECT_LT(cancelled_at - hung_up, 1s);
    // The lane is free again once the cancelled work has returned.
    auto lane_free = Clock::now() + 5s;
    while (raw_exchange(port, request("GET", "/count")).status == 503 && Clock::now() < lane_free) {
        std::this_thread::sleep_for(10ms);
    }

    // Work whose client is gone before it starts is not started at all.
    auto blocker = std::async(std::launch::async, [&] { return raw_exchange(port, request("GET", "/block")); });
    std::this_thread::sleep_for(100ms);
    SocketHandle waiting = connect_loopback(port);
    send_bytes(waiting, request("GET", "/count"));
    std::this_thread::sleep_for(100ms);
    close_connection(waiting);
    std::this_thread::sleep_for(100ms);
    release.set_value();
    release = std::promise<void>();
    EXPECT_EQ(blocker.get().status, 200);
    EXPECT_EQ(raw_exchange(port, request("GET", "/count")).body, "{\"n\":2}");
}

TEST_F(ServerTest, StoppingAnswersWhatIsBeingWorkedOn) {
    auto running =
        std::async(std::launch::async, [&] { return raw_exchange(port, request("GET", "/until-cancelled")); });
    started.get_future().wait();
    server->stop();
    RawReply reply = running.get();
    EXPECT_EQ(reply.status, 503);
    EXPECT_EQ(reply.body, "{\"error\":\"vistrel-app is stopping\"}");
}

class CrowdedServerTest : public ServerTest {
protected:
    ServerLimits limits() const override {
        ServerLimits limits = ServerTest::limits();
        limits.head_time = 30s;
        return limits;
    }
};

TEST_F(CrowdedServerTest, TooManyConnectionsDropTheOldestSlowReader) {
    std::vector<SocketHandle> slow;
    for (int i = 0; i < 16; ++i) {
        slow.push_back(connect_loopback(port));
        send_bytes(slow.back(), "GET /quick HTTP/1.1\r\n");
    }
    // A reader may be dropped only once it has had a moment (a quarter
    // second) to send what it has.
    std::this_thread::sleep_for(500ms);
    RawReply reply = raw_exchange(port, request("GET", "/quick"));
    EXPECT_EQ(reply.status, 200);
    EXPECT_LT(reply.took.count(), 1000);
    EXPECT_TRUE(closed_within(slow.front(), 1000ms)) << "the oldest made room";
    EXPECT_FALSE(closed_within(slow.back(), 100ms)) << "only the oldest";
    for (SocketHandle fd : slow) close_connection(fd);
}

class StingyServerTest : public ServerTest {
protected:
    ServerLimits limits() const override {
        ServerLimits limits = ServerTest::limits();
        limits.max_unsent = 20 << 20;
        return limits;
    }
};

TEST_F(StingyServerTest, RepliesNobodyReadsAreDroppedOnceTheyHoldTooMuch) {
    SocketHandle idle = connect_loopback(port);
    send_bytes(idle, request("GET", "/large"));
    std::this_thread::sleep_for(200ms);
    // The reply that does get read pushes the unread one out.
    RawReply read = raw_exchange(port, request("GET", "/large"));
    EXPECT_EQ(read.status, 200);
    EXPECT_EQ(read.body.size(), 16u << 20);
    RawReply cut = read_reply(idle, 5000ms);
    close_connection(idle);
    EXPECT_TRUE(cut.closed_by_app);
    EXPECT_LT(cut.body.size(), 16u << 20);
}

TEST_F(ServerTest, AClientThatExpectsContinueIsToldToGoOn) {
    // However it spells the expectation; an HTTP/1.0 client, which would
    // take an interim reply for the reply, is not sent one.
    struct Case {
        std::string version;
        std::string expect;
        std::string interim;
    };
    const Case cases[] = {
        {"HTTP/1.1", "100-continue", "HTTP/1.1 100 Continue\r\n\r\n"},
        {"HTTP/1.1", "100-Continue", "HTTP/1.1 100 Continue\r\n\r\n"},
        {"HTTP/1.0", "100-continue", ""},
    };
    for (const auto& c : cases) {
        SocketHandle fd = connect_loopback(port);
        send_bytes(fd, "POST /echo " + c.version + "\r\nHost: 127.0.0.1\r\nExpect: " + c.expect +
                           "\r\nContent-Length: 2\r\n\r\n");
        // Well within the body's time limit.
        EXPECT_EQ(read_some(fd, 25, 150ms), c.interim) << c.version << " " << c.expect;
        send_bytes(fd, "ok");
        RawReply reply = read_reply(fd, 5000ms);
        close_connection(fd);
        EXPECT_EQ(reply.status, 200) << c.version << " " << c.expect;
        EXPECT_EQ(reply.body, "ok|/echo|") << c.version << " " << c.expect;
    }
}

TEST_F(ServerTest, AClientThatHalfClosesAfterItsRequestGetsItsReply) {
    // `nc -N` and many scripts shut down their sending side once the request
    // is out; they are still there to read the reply.
    RawReply half_closed = raw_exchange(port, request("GET", "/work"), /*hang_up=*/true);
    EXPECT_EQ(half_closed.status, 200);
    EXPECT_EQ(half_closed.body, "{\"done\":true}");
    EXPECT_EQ(half_closed.head.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << "nothing before the reply";

    // One that has gone altogether still stops its work.
    SocketHandle gone = connect_loopback(port);
    send_bytes(gone, request("GET", "/until-cancelled"));
    started.get_future().wait();
    hang_up_sending(gone);
    auto cancel = saw_cancel.get_future();
    EXPECT_EQ(cancel.wait_for(300ms), std::future_status::timeout) << "a half-close is not a hang-up";
    close_connection(gone);
    EXPECT_EQ(cancel.wait_for(2s), std::future_status::ready);
}

TEST_F(ServerTest, HeadIsAnsweredWithTheHeadOfGet) {
    RawReply get = raw_exchange(port, request("GET", "/echo?x=abc"));
    RawReply head = raw_exchange(port, request("HEAD", "/echo?x=abc"));
    EXPECT_EQ(head.status, 200);
    EXPECT_TRUE(head.closed_by_app);
    EXPECT_EQ(head.head, get.head);
    EXPECT_EQ(head.body, "");
    RawReply missing = raw_exchange(port, request("HEAD", "/nothing"));
    EXPECT_EQ(missing.status, 404);
    EXPECT_EQ(missing.body, "");
}

TEST_F(CrowdedServerTest, WhenEveryConnectionIsBeingAnsweredANewOneIsToldSoInAWholeReply) {
    std::vector<std::future<RawReply>> waiting;
    for (int i = 0; i < 16; ++i) {
        waiting.push_back(std::async(std::launch::async, [&] { return raw_exchange(port, request("GET", "/wait")); }));
    }
    // Once the server holds all 16.
    RawReply turned_away;
    for (int i = 0; i < 100 && turned_away.status != 503; ++i) {
        std::this_thread::sleep_for(50ms);
        turned_away = raw_exchange(port, request("GET", "/quick"));
    }
    EXPECT_EQ(turned_away.status, 503);
    EXPECT_EQ(turned_away.body, "{\"error\":\"vistrel-app has too many connections\"}");
    EXPECT_NE(turned_away.head.find("Content-Length: " + std::to_string(turned_away.body.size()) + "\r\n"),
              std::string::npos)
        << turned_away.head;
    EXPECT_TRUE(turned_away.closed_by_app);
    release.set_value();
    release = std::promise<void>();
    for (auto& w : waiting) EXPECT_EQ(w.get().status, 200);
}

TEST_F(CrowdedServerTest, ABurstOfWholeRequestsIsAnsweredNotDropped) {
    // More connections at once than the server holds (16), each with its
    // whole request, all waiting to be taken while the server is busy.
    auto held =
        std::async(std::launch::async, [&] { return raw_exchange(port, request("GET", "/hold-the-server?ms=500")); });
    std::this_thread::sleep_for(100ms);
    std::vector<SocketHandle> burst;
    for (int i = 0; i < 64; ++i) {
        burst.push_back(connect_loopback(port));
        send_bytes(burst.back(), request("GET", "/quick"));
    }
    EXPECT_EQ(held.get().status, 503);
    int answered = 0, refused = 0;
    for (SocketHandle fd : burst) {
        RawReply reply = read_reply(fd, 10s);
        close_connection(fd);
        if (reply.status == 200) {
            EXPECT_EQ(reply.body, "{\"ok\":1}");
            ++answered;
        } else {
            // A refusal is a whole reply too: its length is its body's.
            EXPECT_EQ(reply.status, 503) << reply.head;
            EXPECT_NE(reply.head.find("Content-Length: " + std::to_string(reply.body.size()) + "\r\n"),
                      std::string::npos)
                << reply.head;
            EXPECT_TRUE(nlohmann::json::accept(reply.body)) << reply.body;
            ++refused;
        }
    }
    EXPECT_EQ(answered + refused, 64) << "requests that got no reply at all";
    EXPECT_GT(answered, 16);
}
}  // namespace
