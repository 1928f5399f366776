#include "http/message_head.h"

#include <gtest/gtest.h>

namespace {
TEST(MessageHead, SplitsTheRequestLineAtItsFirstAndLastSpace) {
    // The client sends option text unencoded, so a device name with spaces
    // arrives as raw spaces inside the target.
    struct Case {
        std::string line;
        std::string method, target, path, device;
    };
    const Case cases[] = {
        {"GET /api/health HTTP/1.1", "GET", "/api/health", "/api/health", ""},
        {"GET /api/frame.jpg?_=&device=net:my phone HTTP/1.1", "GET", "/api/frame.jpg?_=&device=net:my phone",
         "/api/frame.jpg", "net:my phone"},
        {"GET /api/frame.jpg?_=&device=net:a  b c HTTP/1.1", "GET", "/api/frame.jpg?_=&device=net:a  b c",
         "/api/frame.jpg", "net:a  b c"},
        {"GET /api/frame.jpg?device=net%3Amy%20phone HTTP/1.0", "GET", "/api/frame.jpg?device=net%3Amy%20phone",
         "/api/frame.jpg", "net:my phone"},
        {"GET /api/h%65alth?device=a+b&device=second HTTP/1.1", "GET", "/api/h%65alth?device=a+b&device=second",
         "/api/health", "a b"},
    };
    for (const auto& c : cases) {
        HttpRequest request;
        auto problem = parse_request_head(c.line + "\r\nHost: x\r\n\r\n", request);
        ASSERT_FALSE(problem) << c.line << ": " << problem->message;
        EXPECT_EQ(request.method, c.method) << c.line;
        EXPECT_EQ(request.target, c.target) << c.line;
        EXPECT_EQ(request.path, c.path) << c.line;
        EXPECT_EQ(query_value(request, "device"), c.device) << c.line;
    }
}

TEST(MessageHead, RefusesWhatIsNotAnHttp1RequestHead) {
    struct Case {
        std::string head;
        int status;
    };
    const Case cases[] = {
        {"HELLO\r\n\r\n", 400},
        {"GET /api/health\r\nHost: x\r\n\r\n", 400},
        {"GET  HTTP/1.1\r\n\r\n", 400},
        {"GET api/health HTTP/1.1\r\n\r\n", 400},
        {"GET /api/health HTTP/2\r\n\r\n", 400},
        {"G(T /api/health HTTP/1.1\r\n\r\n", 400},
        {"GET /a\x01z HTTP/1.1\r\n\r\n", 400},
        {"GET /api/health HTTP/1.1\r\nno colon here\r\n\r\n", 400},
        {"GET /api/health HTTP/1.1\r\nBad Name: x\r\n\r\n", 400},
        // A folded line would let a header hide inside another.
        {"GET /api/health HTTP/1.1\r\nHost: x\r\n Origin: y\r\n\r\n", 400},
        {"GET /" + std::string(max_target_bytes, 'a') + " HTTP/1.1\r\n\r\n", 414},
    };
    for (const auto& c : cases) {
        HttpRequest request;
        auto problem = parse_request_head(c.head, request);
        ASSERT_TRUE(problem) << c.head.substr(0, 60);
        EXPECT_EQ(problem->status, c.status) << c.head.substr(0, 60);
        EXPECT_FALSE(problem->message.empty());
    }
    std::string many = "GET / HTTP/1.1\r\n";
    for (std::size_t i = 0; i <= max_header_lines; ++i) many += "X-" + std::to_string(i) + ": y\r\n";
    HttpRequest request;
    auto problem = parse_request_head(many + "\r\n", request);
    ASSERT_TRUE(problem);
    EXPECT_EQ(problem->status, 431);
}

TEST(MessageHead, RefusesHeadsThatOtherReadersWouldReadDifferently) {
    using namespace std::string_literals;
    const std::string host = "Host: 127.0.0.1:7777\r\n";
    struct Case {
        std::string head;
        std::string message;
    };
    const std::string unreadable = "the request could not be read as HTTP/1.1";
    const std::string one_host = "the request must carry exactly one Host header";
    const Case cases[] = {
        // A NUL or a lone carriage return ends a value for some parsers only.
        {"GET / HTTP/1.1\r\n" + host + "X-Note: a\0b\r\n\r\n"s, "a header line holds a control character"},
        {"GET / HTTP/1.1\r\n" + host + "X-Note: a\rb\r\n\r\n", "a header line holds a control character"},
        {"GET / HTTP/1.1\r\nHost: 127.0.0.1:7777\0evil\r\n\r\n"s, "a header line holds a control character"},
        {"GET / HTTP/1.1\r\nHost: 127.0.0.1:7777\r\r\n\r\n", "a header line holds a control character"},
        {"GET / HTTP/1.1\r\n\r\n", one_host},
        {"GET / HTTP/1.1\r\n" + host + host + "\r\n", one_host},
        {"GET / HTTP/1.0\r\n\r\n", one_host},
        {"GET http://127.0.0.1:7777/ HTTP/1.1\r\n\r\n", one_host},
        {"GET / HTTP/1.1\r\nHost: 127.0.0.1 7777\r\n\r\n", "the Host header is not a host name and port"},
        // HTTP/1.0 has no chunked coding to frame a body with.
        {"POST / HTTP/1.0\r\n" + host + "Transfer-Encoding: chunked\r\n\r\n",
         "an HTTP/1.0 request cannot carry Transfer-Encoding"},
        {"GET https://127.0.0.1:7777/ HTTP/1.1\r\n" + host + "\r\n", unreadable},
        {"GET http:///api/health HTTP/1.1\r\n" + host + "\r\n", unreadable},
        {"GET http://me@127.0.0.1:7777/ HTTP/1.1\r\n" + host + "\r\n", unreadable},
        {"GET * HTTP/1.1\r\n" + host + "\r\n", unreadable},
    };
    for (const auto& c : cases) {
        HttpRequest request;
        auto problem = parse_request_head(c.head, request);
        ASSERT_TRUE(problem) << c.head;
        EXPECT_EQ(problem->status, 400) << c.head;
        EXPECT_EQ(problem->message, c.message) << c.head;
    }
}

TEST(MessageHead, AnAbsoluteFormTargetNamesItsHost) {
    struct Case {
        std::string head;
        std::string authority, path, device;
    };
    const Case cases[] = {
        {"GET http://127.0.0.1:7777/api/health HTTP/1.1\r\nHost: 127.0.0.1:7777\r\n\r\n", "127.0.0.1:7777",
         "/api/health", ""},
        {"GET HTTP://localhost:7777/api/frame.jpg?_=&device=net:my phone HTTP/1.1\r\nHost: x\r\n\r\n", "localhost:7777",
         "/api/frame.jpg", "net:my phone"},
        {"GET http://127.0.0.1:7777?device=sim HTTP/1.1\r\nHost: x\r\n\r\n", "127.0.0.1:7777", "/", "sim"},
        // HTTP/1.0 needs no Host when the target names the host.
        {"GET http://127.0.0.1:7777 HTTP/1.0\r\n\r\n", "127.0.0.1:7777", "/", ""},
        {"GET /api/health HTTP/1.1\r\nHost: x\r\n\r\n", "", "/api/health", ""},
    };
    for (const auto& c : cases) {
        HttpRequest request;
        auto problem = parse_request_head(c.head, request);
        ASSERT_FALSE(problem) << c.head << ": " << problem->message;
        EXPECT_EQ(request.authority, c.authority) << c.head;
        EXPECT_EQ(request.path, c.path) << c.head;
        EXPECT_EQ(query_value(request, "device"), c.device) << c.head;
    }
    HttpRequest request;
    ASSERT_FALSE(parse_request_head("GET / HTTP/1.0\r\nHost: x\r\nX-Tab: a\tb\r\n\r\n", request));
    EXPECT_EQ(request.version, "HTTP/1.0");
    EXPECT_EQ(header_value(request, "x-tab"), "a\tb") << "a tab is part of a value";
}

TEST(MessageHead, HeaderNamesAreLowerCasedAndValuesTrimmed) {
    HttpRequest request;
    ASSERT_FALSE(parse_request_head("POST /x HTTP/1.1\nHOST: 127.0.0.1:1\nContent-Length:\t 5 \n\n", request));
    EXPECT_EQ(header_count(request, "host"), 1u);
    EXPECT_EQ(header_value(request, "host"), "127.0.0.1:1");
    EXPECT_EQ(header_value(request, "content-length"), "5");
}

TEST(MessageHead, FindsTheEndOfTheHeadWithEitherLineEnd) {
    EXPECT_EQ(head_end("GET / HTTP/1.1\r\nHost: x\r\n\r\nbody"), std::optional<std::size_t>(27));
    EXPECT_EQ(head_end("GET / HTTP/1.1\nHost: x\n\nbody"), std::optional<std::size_t>(24));
    EXPECT_EQ(head_end("GET / HTTP/1.1\r\nHost: x\r\n"), std::nullopt);
    EXPECT_EQ(head_end("GET / HTTP/1.1\r\nHost: x\r\n\r"), std::nullopt);
}

TEST(MessageHead, AnOversizedHeadIsATargetOrAHeadProblem) {
    EXPECT_EQ(oversized_head("GET /" + std::string(max_head_bytes, 'a')).status, 414);
    EXPECT_EQ(oversized_head("GET / HTTP/1.1\r\nX: " + std::string(max_head_bytes, 'a')).status, 431);
}

TEST(MessageHead, ReadsAReplyHead) {
    std::vector<std::pair<std::string, std::string>> headers;
    EXPECT_EQ(parse_reply_head("HTTP/1.1 200 OK\r\nContent-Type: image/jpeg\r\n\r\n", headers), 200);
    ASSERT_EQ(headers.size(), 1u);
    EXPECT_EQ(headers[0].first, "content-type");
    headers.clear();
    EXPECT_EQ(parse_reply_head("HTTP/1.0 404\r\n\r\n", headers), 404);
    for (const char* bad : {"HTTP/1.1 2000 OK\r\n\r\n", "ICY 200 OK\r\n\r\n", "HTTP/1.1 abc\r\n\r\n", "\r\n"}) {
        headers.clear();
        EXPECT_EQ(parse_reply_head(bad, headers), std::nullopt) << bad;
    }
}

TEST(MessageHead, PercentDecoding) {
    EXPECT_EQ(percent_decode("a%20b+c", true), "a b c");
    EXPECT_EQ(percent_decode("a%20b+c", false), "a b+c");
    EXPECT_EQ(percent_decode("100%", true), "100%");
    EXPECT_EQ(percent_decode("%zz%4", true), "%zz%4");
    EXPECT_EQ(percent_decode("%e2%80%94", true), "\xe2\x80\x94");
}
}  // namespace
