// The receive timeout, with a short limit in place of the real 300 seconds;
// the reply's headers; and an exchange stopped from another thread.
#include <gtest/gtest.h>

#include <thread>

#include "client/http.h"
#include "loopback_peer.h"
#include "platform/system.h"

namespace {
std::string timed_out_text() {
#ifdef _WIN32
    return os_error(10060).text;  // WSAETIMEDOUT
#else
    return os_error(ETIMEDOUT).text;
#endif
}
}  // namespace

TEST(Exchange, SilenceEndsInTheTimedOutError) {
    LoopbackPeer peer("", LoopbackPeer::After::hold_open);
    Result<HttpReply, IoError> result =
        http_exchange("GET", "http://127.0.0.1:" + std::to_string(peer.port) + "/api/health", "", 200);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().text, timed_out_text());
}

TEST(Exchange, APeerThatKeepsTheConnectionOpenGivesNoPartialReply) {
    LoopbackPeer peer("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n{}", LoopbackPeer::After::hold_open);
    Result<HttpReply, IoError> result =
        http_exchange("GET", "http://127.0.0.1:" + std::to_string(peer.port) + "/", "", 200);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().text, timed_out_text());
}

TEST(Exchange, AnAddressThatCannotBeLookedUpFails) {
    Result<HttpReply, IoError> result = http_exchange("GET", "http://no-such-host.invalid:80/", "");
    ASSERT_FALSE(result.ok());
    EXPECT_FALSE(result.error().text.empty());
}

TEST(Exchange, HeadersAreKeptForTheCaller) {
    LoopbackPeer peer(
        "HTTP/1.1 200 OK\r\nX-Vistrel-Source: 3840x2160\r\nx-vistrel-region:  0,10,640,480 \r\n"
        "Content-Length: 2\r\n\r\n{}");
    Result<IncomingReply, IoError> reply =
        http_request("GET", "http://127.0.0.1:" + std::to_string(peer.port) + "/", "", 2000);
    ASSERT_TRUE(reply.ok()) << reply.error().text;
    const ReplyHeaders& headers = reply.value().headers;
    EXPECT_EQ(header_value(headers, "x-vistrel-source"), "3840x2160");
    EXPECT_EQ(header_value(headers, "X-Vistrel-Region"), "0,10,640,480");
    EXPECT_EQ(header_value(headers, "Content-Length"), "2");
    EXPECT_EQ(header_value(headers, "X-Vistrel-Preview"), std::nullopt);
}

// A stop from another thread ends the wait for the peer at once, whether the
// head or the body is awaited, and the peer sees the client hang up. Were the
// stop not to reach the socket, only the minute's limit would end the wait.
TEST(Exchange, AStopEndsTheExchangeAndThePeerSeesTheHangUp) {
    const std::string replies[] = {"", "HTTP/1.1 200 OK\r\n\r\nthe first bytes of a recording"};
    for (const std::string& reply : replies) {
        SCOPED_TRACE(reply);
        LoopbackPeer peer(reply, LoopbackPeer::After::wait_for_hang_up);
        ExchangeStop stop;
        std::optional<IoError> failure;
        std::thread exchange([&] {
            Result<IncomingReply, IoError> incoming =
                http_request("POST", "http://127.0.0.1:" + std::to_string(peer.port) + "/", "{}", 60000, &stop);
            if (!incoming) {
                failure = incoming.error();
                return;
            }
            StringSink sink;
            Result<std::uint64_t, IoError> read = read_body(incoming.value(), sink);
            if (!read) failure = read.error();
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        auto stopped_at = std::chrono::steady_clock::now();
        stop.stop();
        exchange.join();
        EXPECT_LT(std::chrono::steady_clock::now() - stopped_at, std::chrono::seconds(30)) << "ended by the limit";
        ASSERT_TRUE(failure.has_value()) << "a stopped exchange is never a shorter reply";
        EXPECT_EQ(failure->text, stopped_exchange().text);
        EXPECT_TRUE(stop.stopped());
        peer.done = true;
        peer.thread.join();
        peer.thread = std::thread([] {});
        EXPECT_TRUE(peer.hung_up);
    }
}

TEST(Exchange, AnExchangeStartedAfterTheStopFailsAtOnce) {
    ExchangeStop stop;
    stop.stop();
    Result<IncomingReply, IoError> reply = http_request("GET", "http://127.0.0.1:9/", "", 20000, &stop);
    ASSERT_FALSE(reply.ok());
    EXPECT_EQ(reply.error().text, stopped_exchange().text);
}
