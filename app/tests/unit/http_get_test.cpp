// The network cameras' GET client against the fake phone.
#include "sources/http_get.h"

#include "fake_phone.h"

#include <gtest/gtest.h>

#include <thread>

namespace {
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Outcome = GetResult::Outcome;

HttpUrl url_of(const FakePhone& phone, const std::string& path, const std::string& host = "127.0.0.1") {
    return HttpUrl{host, phone.port, path};
}

GetResult get(
    const HttpUrl& url, GetLimits limits = {}, const CancelCheck& cancelled = [] { return false; }) {
    return http_get(url, limits, cancelled, [](const NetAddress&) { return true; });
}

TEST(HttpGet, ReadsTheReplyHoweverItsLengthIsGiven) {
    FakePhone phone;
    phone.script("/chunked",
                 "HTTP/1.1 200 OK\r\nContent-Type: image/jpeg\r\nTransfer-Encoding: chunked\r\n\r\n"
                 "3\r\nabc\r\n4\r\ndefg\r\n0\r\n\r\n");
    phone.script("/to-the-end", "HTTP/1.0 200 OK\r\nContent-Type: image/jpeg\r\n\r\nuntil the end");
    phone.script("/continue", "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok");
    struct Case {
        std::string path;
        std::string body;
    };
    const Case cases[] = {
        {"/shot.jpg", phone.jpeg},
        {"/chunked", "abcdefg"},
        {"/to-the-end", "until the end"},
        {"/continue", "ok"},
    };
    for (const auto& c : cases) {
        GetResult result = get(url_of(phone, c.path));
        ASSERT_EQ(result.outcome, Outcome::reply) << c.path << ": " << result.detail;
        EXPECT_EQ(result.status, 200) << c.path;
        EXPECT_EQ(result.body, c.body) << c.path;
    }
    GetResult named = get(url_of(phone, "/shot.jpg", "localhost"));
    EXPECT_EQ(named.outcome, Outcome::reply) << named.detail;
    EXPECT_EQ(named.content_type, "image/jpeg");
    GetResult missing = get(url_of(phone, "/nothing"));
    EXPECT_EQ(missing.outcome, Outcome::reply);
    EXPECT_EQ(missing.status, 404);
}

TEST(HttpGet, OneDeadlineForTheWholeFetch) {
    // The camera sends a byte every 100 ms: every single read is quick, the
    // fetch as a whole is not.
    FakePhone phone;
    GetLimits limits;
    limits.total_time = 600ms;
    auto started = Clock::now();
    GetResult result = get(url_of(phone, "/trickle.jpg"), limits);
    auto took = Clock::now() - started;
    EXPECT_EQ(result.outcome, Outcome::timed_out);
    EXPECT_GE(took, 600ms);
    EXPECT_LT(took, 3s);
}

TEST(HttpGet, StopsWhenTheCancelCheckSaysSo) {
    FakePhone phone;
    auto cancel_at = Clock::now() + 300ms;
    GetResult result = get(url_of(phone, "/trickle.jpg"), {}, [&] { return Clock::now() >= cancel_at; });
    EXPECT_EQ(result.outcome, Outcome::cancelled);
    EXPECT_LT(Clock::now() - cancel_at, 1s);
    // The camera sees the connection end.
    for (int i = 0; i < 100 && phone.trickles_ended == 0; ++i) std::this_thread::sleep_for(20ms);
    EXPECT_EQ(phone.trickles_ended, 1);
}

TEST(HttpGet, RefusesMoreBytesThanTheLimit) {
    FakePhone phone;
    phone.script("/declared", "HTTP/1.1 200 OK\r\nContent-Length: 999999999\r\n\r\nxx");
    phone.script("/endless", "HTTP/1.1 200 OK\r\n\r\n" + std::string(5000, 'x'));
    phone.script("/chunks", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n1000\r\n");
    GetLimits limits;
    limits.max_body = 1000;
    for (const char* path : {"/shot.jpg", "/declared", "/endless", "/chunks"}) {
        EXPECT_EQ(get(url_of(phone, path), limits).outcome, Outcome::too_large) << path;
    }
}

TEST(HttpGet, SaysWhatWentWrong) {
    FakePhone phone;
    phone.script("/short", "HTTP/1.1 200 OK\r\nContent-Length: 1000\r\n\r\n0123456789");
    phone.script("/garbage", "SSH-2.0-OpenSSH\r\n\r\n");
    phone.script("/nothing-at-all", "");
    struct Case {
        std::string path;
        std::string detail;
    };
    const Case cases[] = {
        {"/short", "it closed the connection with 990 bytes of the reply still to come"},
        {"/garbage", "it did not answer in HTTP"},
        {"/nothing-at-all", "it closed the connection without a complete answer"},
    };
    for (const auto& c : cases) {
        GetResult result = get(url_of(phone, c.path));
        EXPECT_EQ(result.outcome, Outcome::broken) << c.path;
        EXPECT_EQ(result.detail, c.detail) << c.path;
    }
    GetResult refused = get(HttpUrl{"127.0.0.1", closed_port(), "/"});
    EXPECT_EQ(refused.outcome, Outcome::unreachable);
    EXPECT_EQ(refused.detail, "Connection refused");
    GetResult unknown = get(HttpUrl{"no-such-host.invalid", 80, "/"});
    EXPECT_EQ(unknown.outcome, Outcome::unreachable);
    EXPECT_FALSE(unknown.detail.empty());
}

TEST(HttpGet, AsksBeforeConnectingToAnAddress) {
    FakePhone phone;
    int asked = 0;
    GetResult result = http_get(
        url_of(phone, "/shot.jpg"), {}, [] { return false; },
        [&](const NetAddress&) {
            ++asked;
            return false;
        });
    EXPECT_EQ(result.outcome, Outcome::refused);
    EXPECT_EQ(asked, 1);
}

TEST(HttpGet, LimitsReadAsSeconds) {
    EXPECT_EQ(seconds_text(10s), "10 seconds");
    EXPECT_EQ(seconds_text(1s), "1 second");
    EXPECT_EQ(seconds_text(1500ms), "1.5 seconds");
}
}  // namespace
