#include "http/access_guard.h"

#include <gtest/gtest.h>

namespace {
HttpRequest with_headers(std::vector<std::pair<std::string, std::string>> headers) {
    HttpRequest request;
    request.method = "GET";
    request.path = "/api/health";
    request.headers = std::move(headers);
    return request;
}

TEST(AccessGuard, ServesOnlyLoopbackHostsWithThePort) {
    struct Case {
        std::vector<std::pair<std::string, std::string>> headers;
        bool allowed;
    };
    const Case cases[] = {
        {{{"host", "127.0.0.1:7777"}}, true},
        {{{"host", "localhost:7777"}}, true},
        {{{"host", "LocalHost:7777"}}, true},
        {{{"host", "evil.example:7777"}}, false},  // DNS rebinding
        {{{"host", "127.0.0.1:7778"}}, false},
        {{{"host", "127.0.0.1"}}, false},
        {{{"host", "localhost"}}, false},
        {{{"host", "[::1]:7777"}}, false},
        {{{"host", "127.0.0.1:7777.evil.example"}}, false},
        {{{"host", ""}}, false},
        {{}, false},
        {{{"host", "127.0.0.1:7777"}, {"host", "127.0.0.1:7777"}}, false},
    };
    for (const auto& c : cases) {
        auto problem = access_problem(with_headers(c.headers), 7777);
        std::string host = c.headers.empty() ? "(no Host)" : c.headers[0].second;
        EXPECT_EQ(!problem.has_value(), c.allowed) << host;
        if (problem) {
            EXPECT_FALSE(problem->empty());
        }
    }
}

TEST(AccessGuard, RefusesWhatBrowsersMarkWhateverTheHost) {
    // Image loads carry no Origin, but every browser request carries
    // Sec-Fetch-*, and many a Referer.
    struct Case {
        std::string name;
        std::string mark;
    };
    const Case cases[] = {
        {"origin", "an Origin"},
        {"referer", "a Referer"},
        {"sec-fetch-site", "a Sec-Fetch-Site"},
        {"sec-fetch-mode", "a Sec-Fetch-Mode"},
        {"sec-fetch-dest", "a Sec-Fetch-Dest"},
        {"sec-fetch-user", "a Sec-Fetch-User"},
    };
    for (const auto& c : cases) {
        for (const char* host : {"127.0.0.1:7777", "localhost:7777", "evil.example:7777"}) {
            auto problem = access_problem(with_headers({{"host", host}, {c.name, "x"}}), 7777);
            ASSERT_TRUE(problem) << c.name << " " << host;
            EXPECT_EQ(*problem, "requests from web pages are refused (the request carries " + c.mark + " header)");
        }
    }
}

TEST(AccessGuard, AnAbsoluteFormTargetsHostStandsForTheHostHeader) {
    struct Case {
        std::string authority;
        std::vector<std::pair<std::string, std::string>> headers;
        bool allowed;
    };
    const Case cases[] = {
        {"127.0.0.1:7777", {{"host", "127.0.0.1:7777"}}, true},
        {"localhost:7777", {}, true},
        // The target's host is the one that counts.
        {"127.0.0.1:7777", {{"host", "evil.example:7777"}}, true},
        {"evil.example:7777", {{"host", "127.0.0.1:7777"}}, false},
        {"127.0.0.1:7778", {{"host", "127.0.0.1:7777"}}, false},
    };
    for (const auto& c : cases) {
        HttpRequest request = with_headers(c.headers);
        request.authority = c.authority;
        EXPECT_EQ(!access_problem(request, 7777).has_value(), c.allowed) << c.authority;
    }
    HttpRequest marked = with_headers({{"origin", "http://evil.example"}});
    marked.authority = "127.0.0.1:7777";
    EXPECT_TRUE(access_problem(marked, 7777));
}

TEST(AccessGuard, SaysWhatHostIsExpected) {
    auto problem = access_problem(with_headers({{"host", "evil.example:9000"}}), 9000);
    ASSERT_TRUE(problem);
    EXPECT_EQ(*problem, "the Host header must be 127.0.0.1:9000 or localhost:9000 (got \"evil.example:9000\")");
}
}  // namespace
