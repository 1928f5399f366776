#include <gtest/gtest.h>

#include "client/http_parts.h"

TEST(SplitUrl, AuthorityThenPath) {
    struct Case {
        std::string url, authority, path;
    };
    const Case cases[] = {
        {"http://127.0.0.1:7777/api/health", "127.0.0.1:7777", "/api/health"},
        {"http://127.0.0.1:7777", "127.0.0.1:7777", "/"},
        {"127.0.0.1:7777/api/x", "127.0.0.1:7777", "/api/x"},
        {"HTTP://127.0.0.1:7777/a", "HTTP:", "//127.0.0.1:7777/a"},
        {"http://127.0.0.1:7777/x/api/frame.jpg?_=&device=net:my phone", "127.0.0.1:7777",
         "/x/api/frame.jpg?_=&device=net:my phone"},
        {"http://127.0.0.1:/api", "127.0.0.1:", "/api"},
    };
    for (const Case& c : cases) {
        UrlParts parts = split_url(c.url);
        EXPECT_EQ(parts.authority, c.authority) << c.url;
        EXPECT_EQ(parts.path, c.path) << c.url;
    }
}

TEST(ParseAuthority, NumericAddressesNamesAndErrors) {
    struct Case {
        std::string authority;
        bool numeric;
        std::string host;
        int port;  // -1: an error
        std::string error;
    };
    const Case cases[] = {
        {"127.0.0.1:7777", true, "127.0.0.1", 7777, ""},
        {"127.0.0.1:007777", true, "127.0.0.1", 7777, ""},
        {"127.0.0.1:0", true, "127.0.0.1", 0, ""},
        {"[::1]:8080", true, "::1", 8080, ""},
        {"[fe80::1%2]:80", true, "fe80::1", 80, ""},
        {"127.0.0.1:+7777", false, "127.0.0.1", 7777, ""},
        {"localhost:7777", false, "localhost", 7777, ""},
        {"127.0.0.1:x:7777", false, "127.0.0.1:x", 7777, ""},
        {"127.0.0.1:", false, "", -1, "invalid port value"},
        {"127.0.0.1:65536", false, "", -1, "invalid port value"},
        {"127.0.0.1:abc", false, "", -1, "invalid port value"},
        {"127.0.0.1: 80", false, "", -1, "invalid port value"},
        {"127.0.0.1:++80", false, "", -1, "invalid port value"},
        {"127.0.0.1", false, "", -1, "invalid socket address"},
        {"", false, "", -1, "invalid socket address"},
    };
    for (const Case& c : cases) {
        ConnectTarget target = parse_authority(c.authority);
        if (c.port < 0) {
            ASSERT_TRUE(target.error.has_value()) << c.authority;
            EXPECT_EQ(target.error->text, c.error) << c.authority;
            continue;
        }
        EXPECT_FALSE(target.error.has_value()) << c.authority;
        EXPECT_EQ(target.numeric, c.numeric) << c.authority;
        EXPECT_EQ(target.host, c.host) << c.authority;
        EXPECT_EQ(target.port, c.port) << c.authority;
    }
    EXPECT_EQ(parse_authority("[fe80::1%2]:80").scope_id, 2u);
}

TEST(StatusCode, SecondFieldAsUnsignedSixteenBit) {
    const std::pair<std::string, int> cases[] = {
        {"HTTP/1.1 404 Not Found\r\n", 404},
        {"HTTP/1.1 +200 OK\r\n", 200},
        {"HTTP/1.1 abc\r\n", 0},
        {"HTTP/1.1\r\n", 0},
        {"HTTP/1.1 65535 X\n", 65535},
        {"HTTP/1.1 65536 X\n", 0},
        {"HTTP/1.1 -1 X\n", 0},
        {"HTTP/1.1 + X\n", 0},
        {"HTTP/1.1 2OO OK\n", 0},
        {"   HTTP/1.1    500   Oops\r\n", 500},
        {"HTTP/1.1\t201\tCreated\n", 201},
        {"HTTP/1.1\u3000404\u3000X\n", 404},
        {"HTTP/1.1 \xD9\xA4\xD9\xA0\xD9\xA4 X\n", 0},  // non-ASCII digits
        {"", 0},
    };
    for (const auto& [line, status] : cases) EXPECT_EQ(status_code(line), status) << line;
}

TEST(RequestHead, ExactBytes) {
    EXPECT_EQ(request_head("GET", "/api/health", "127.0.0.1:7777", 0),
              "GET /api/health HTTP/1.1\r\nHost: 127.0.0.1:7777\r\nConnection: close\r\nContent-Length: 0\r\n\r\n");
    EXPECT_EQ(request_head("POST", "/api/focus", "127.0.0.1:7777", 15),
              "POST /api/focus HTTP/1.1\r\nHost: 127.0.0.1:7777\r\nConnection: close\r\n"
              "Content-Type: application/json\r\nContent-Length: 15\r\n\r\n");
    // Control bytes cannot end the request line or start a header line.
    EXPECT_EQ(request_head("GET", "/a?d=x\r\nEvil: 1\t\x7f", "h:1", 0),
              "GET /a?d=x%0D%0AEvil: 1%09%7F HTTP/1.1\r\nHost: h:1\r\nConnection: close\r\nContent-Length: 0\r\n\r\n");
    EXPECT_EQ(escape_control_bytes(std::string("a\0b", 3) + "\x1f caf\xC3\xA9 %"), "a%00b%1F caf\xC3\xA9 %");
}
