#include "sources/self_address.h"

#include <gtest/gtest.h>

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
    // As the system's resolver gives them to the fetch.
    auto address = [](const char* host, int port) {
        Resolved resolved = numeric_addresses(host, port);
        EXPECT_EQ(resolved.addresses.size(), 1u) << host << ": " << resolved.error;
        return resolved.addresses.empty() ? NetAddress{} : resolved.addresses.front();
    };
    struct Case {
        const char* host;
        int port;
        bool app;
    };
    const Case cases[] = {
        {"127.3.2.1", 7777, true},         {"127.3.2.1", 8080, false},   {"192.0.2.7", 7777, false},
        {"0.0.0.0", 7777, true},           {"::1", 7777, true},          {"::", 7777, true},
        {"::ffff:127.0.0.1", 7777, true},  {"::127.0.0.1", 7777, true},  {"::0.0.0.2", 7777, false},
        {"::ffff:192.0.2.7", 7777, false}, {"2001:db8::1", 7777, false}, {"::1", 7778, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(reaches_app(address(c.host, c.port), 7777), c.app) << c.host << " port " << c.port;
    }
}
}  // namespace
