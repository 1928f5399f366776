#include "sources/http_url.h"

#include <gtest/gtest.h>

namespace {
TEST(HttpUrl, SplitsHostPortAndTarget) {
    struct Case {
        const char* url;
        const char* host;
        int port;
        const char* target;
    };
    const Case cases[] = {
        {"http://192.168.1.50:8080/shot.jpg", "192.168.1.50", 8080, "/shot.jpg"},
        {"http://phone.local/shot.jpg?size=big", "phone.local", 80, "/shot.jpg?size=big"},
        {"HTTP://Cam/", "Cam", 80, "/"},
        {"http://cam", "cam", 80, "/"},
        {"http://cam?x=1", "cam", 80, "/?x=1"},
        {"http://cam:81/a#frag", "cam", 81, "/a"},
        {"http://[::1]:8080/s.jpg", "::1", 8080, "/s.jpg"},
        {"http://[fe80::1]/", "fe80::1", 80, "/"},
    };
    for (const auto& c : cases) {
        auto url = parse_http_url(c.url);
        ASSERT_TRUE(url) << c.url;
        EXPECT_EQ(url->host, c.host) << c.url;
        EXPECT_EQ(url->port, c.port) << c.url;
        EXPECT_EQ(url->target, c.target) << c.url;
    }
}

TEST(HttpUrl, RefusesWhatCannotBeFetchedPlainly) {
    for (const char* url :
         {"", "http://", "https://cam/shot.jpg", "ftp://cam/x", "cam:8080/shot.jpg", "http://user:pw@cam/",
          "http://cam:0/", "http://cam:65536/", "http://cam:/x", "http://cam:80a/", "http://c am/", "http://cam/a b",
          "http://cam/\x01", "http://[::1/", "http://[]/", "http://ca$m/"}) {
        EXPECT_FALSE(parse_http_url(url)) << url;
    }
}
}  // namespace
