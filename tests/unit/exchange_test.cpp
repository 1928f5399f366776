// The receive timeout, with a short limit in place of the real 300 seconds.
#include <gtest/gtest.h>

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
