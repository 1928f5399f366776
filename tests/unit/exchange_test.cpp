// The receive timeout, with a short limit in place of the real 300 seconds.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#ifdef _WIN32
#include <winsock2.h>
using RawSocket = SOCKET;
static void close_raw(RawSocket s) { closesocket(s); }
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
using RawSocket = int;
static void close_raw(RawSocket s) { close(s); }
#endif

#include "client/http.h"
#include "platform/socket.h"
#include "platform/system.h"

namespace {
// Accepts one connection, sends `reply`, then keeps the connection open
// without a word until the test ends.
struct SilentPeer {
    RawSocket listener;
    std::uint16_t port = 0;
    std::thread thread;
    std::atomic<bool> done{false};

    explicit SilentPeer(std::string reply) {
        (void)socket_layer_start();
        listener = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
        listen(listener, 1);
#ifdef _WIN32
        int length = sizeof address;
#else
        socklen_t length = sizeof address;
#endif
        getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
        port = ntohs(address.sin_port);
        thread = std::thread([this, reply] {
            RawSocket connection = accept(listener, nullptr, nullptr);
            send(connection, reply.data(), static_cast<int>(reply.size()), 0);
            while (!done) std::this_thread::sleep_for(std::chrono::milliseconds(10));
            close_raw(connection);
        });
    }
    ~SilentPeer() {
        done = true;
        thread.join();
        close_raw(listener);
    }
};

std::string timed_out_text() {
#ifdef _WIN32
    return os_error(10060).text;  // WSAETIMEDOUT
#else
    return os_error(ETIMEDOUT).text;
#endif
}
}  // namespace

TEST(Exchange, SilenceEndsInTheTimedOutError) {
    SilentPeer peer("");
    ExchangeResult result = http_exchange("GET", "http://127.0.0.1:" + std::to_string(peer.port) + "/api/health", "", 200);
    ASSERT_TRUE(result.error.has_value());
    EXPECT_EQ(result.error->text, timed_out_text());
}

TEST(Exchange, APeerThatKeepsTheConnectionOpenGivesNoPartialReply) {
    SilentPeer peer("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n{}");
    ExchangeResult result = http_exchange("GET", "http://127.0.0.1:" + std::to_string(peer.port) + "/", "", 200);
    ASSERT_TRUE(result.error.has_value());
    EXPECT_EQ(result.error->text, timed_out_text());
    EXPECT_EQ(result.reply.status, 0);
    EXPECT_EQ(result.reply.body.size, 0u);
}

TEST(Exchange, AnAddressThatCannotBeLookedUpFails) {
    ExchangeResult result = http_exchange("GET", "http://no-such-host.invalid:80/", "");
    ASSERT_TRUE(result.error.has_value());
    EXPECT_FALSE(result.error->text.empty());
}
