#include "http/access_guard.h"

#include <gtest/gtest.h>

namespace {
struct GuardCase {
    std::optional<std::string> host;
    bool has_origin;
    bool allowed;
};

TEST(AccessGuard, ServesOnlyLoopbackHostsWithThePortAndNoOrigin) {
    const GuardCase cases[] = {
        {"127.0.0.1:7777", false, true},
        {"localhost:7777", false, true},
        {"LocalHost:7777", false, true},
        {"127.0.0.1:7777", true, false},  // a web page on any site
        {"localhost:7777", true, false},
        {"evil.example:7777", false, false},  // DNS rebinding
        {"127.0.0.1:7778", false, false},
        {"127.0.0.1", false, false},
        {"localhost", false, false},
        {"[::1]:7777", false, false},
        {"127.0.0.1:7777.evil.example", false, false},
        {"", false, false},
        {std::nullopt, false, false},
    };
    for (const auto& c : cases) {
        auto problem = access_problem({c.host, c.has_origin}, 7777);
        EXPECT_EQ(!problem.has_value(), c.allowed) << (c.host ? *c.host : "(no Host)") << " origin=" << c.has_origin;
        if (problem) {
            EXPECT_FALSE(problem->empty());
        }
    }
}

TEST(AccessGuard, SaysWhatHostIsExpected) {
    auto problem = access_problem({std::string("evil.example:9000"), false}, 9000);
    ASSERT_TRUE(problem);
    EXPECT_NE(problem->find("127.0.0.1:9000"), std::string::npos);
    EXPECT_NE(problem->find("evil.example:9000"), std::string::npos);
}
}  // namespace
