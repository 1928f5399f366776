#include "http/request_line.h"

#include <gtest/gtest.h>

namespace {
TEST(RequestLine, EncodesSpacesInsideTheTargetOnly) {
    struct Case {
        const char* in;
        const char* out;
    };
    const Case cases[] = {
        {"GET /api/health HTTP/1.1\r\n", "GET /api/health HTTP/1.1\r\n"},
        {"GET /api/frame.jpg?_=&device=net:my phone HTTP/1.1\r\n",
         "GET /api/frame.jpg?_=&device=net:my%20phone HTTP/1.1\r\n"},
        {"GET /api/frame.jpg?_=&device=net:a  b c HTTP/1.1\r\n",
         "GET /api/frame.jpg?_=&device=net:a%20%20b%20c HTTP/1.1\r\n"},
        {"GET /a b HTTP/1.1\n", "GET /a%20b HTTP/1.1\n"},
        {"GET /a b HTTP/1.1", "GET /a%20b HTTP/1.1"},
        // Nothing to repair, or nothing that can be repaired: left to the
        // HTTP library to accept or refuse.
        {"GET /api/health\r\n", "GET /api/health\r\n"},
        {"GARBAGE\r\n", "GARBAGE\r\n"},
        {"\r\n", "\r\n"},
        {"", ""},
        {"GET  HTTP/1.1\r\n", "GET  HTTP/1.1\r\n"},
    };
    for (const auto& c : cases) EXPECT_EQ(repair_request_line(c.in), c.out) << c.in;
}
}  // namespace
