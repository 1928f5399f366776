#include "sources/self_address.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>

namespace {
TEST(SelfAddress, EverySpellingOfTheLoopbackAddressIsTheApp) {
    // As getaddrinfo reads hosts, and so as the fetch connects.
    for (const char* host :
         {"127.0.0.1", "127.0.0.2", "127.1", "0", "0.0.0.0", "2130706433", "0x7f000001", "0177.0.0.1", "::1",
          "::", "::ffff:127.0.0.1", "::ffff:7f00:1", "localhost", "LOCALHOST", "localhost.", "cam.localhost"}) {
        EXPECT_TRUE(url_points_at_app(HttpUrl{host, 7777, "/"}, 7777)) << host;
        EXPECT_FALSE(url_points_at_app(HttpUrl{host, 7778, "/"}, 7777)) << host << " on another port";
    }
    for (const char* host : {"192.168.1.50", "10.0.0.1", "128.0.0.1", "::ffff:192.168.1.1", "fe80::1", "cam.local",
                             "localhost.example", "example.com"}) {
        EXPECT_FALSE(url_points_at_app(HttpUrl{host, 7777, "/"}, 7777)) << host;
    }
}

TEST(SelfAddress, JudgesTheAddressAFetchWouldConnectTo) {
    sockaddr_in v4{};
    v4.sin_family = AF_INET;
    v4.sin_port = htons(7777);
    inet_pton(AF_INET, "127.3.2.1", &v4.sin_addr);
    EXPECT_TRUE(reaches_app(reinterpret_cast<sockaddr*>(&v4), 7777));
    EXPECT_FALSE(reaches_app(reinterpret_cast<sockaddr*>(&v4), 8080));
    inet_pton(AF_INET, "192.0.2.7", &v4.sin_addr);
    EXPECT_FALSE(reaches_app(reinterpret_cast<sockaddr*>(&v4), 7777));

    sockaddr_in6 v6{};
    v6.sin6_family = AF_INET6;
    v6.sin6_port = htons(7777);
    inet_pton(AF_INET6, "::ffff:127.0.0.1", &v6.sin6_addr);
    EXPECT_TRUE(reaches_app(reinterpret_cast<sockaddr*>(&v6), 7777));
    inet_pton(AF_INET6, "2001:db8::1", &v6.sin6_addr);
    EXPECT_FALSE(reaches_app(reinterpret_cast<sockaddr*>(&v6), 7777));
}
}  // namespace
