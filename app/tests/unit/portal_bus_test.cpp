#include "screen/portal_bus.h"

#include <gtest/gtest.h>

namespace {
TEST(PortalBus, TheAnswerComesOnAPathMadeFromTheSenderAndToken) {
    EXPECT_EQ(portal_request_path(":1.42", "vistrel_7_0"), "/org/freedesktop/portal/desktop/request/1_42/vistrel_7_0");
    EXPECT_EQ(portal_request_path(":1.2.3", "t"), "/org/freedesktop/portal/desktop/request/1_2_3/t");
}

TEST(PortalBus, OnlyLocalFileUrisGiveAPath) {
    struct Case {
        const char* uri;
        const char* path;
    };
    const Case cases[] = {
        {"file:///tmp/out.png", "/tmp/out.png"},
        {"file:///home/ann/Pictures/Screenshot%20from%202024-01-02.png",
         "/home/ann/Pictures/Screenshot from 2024-01-02.png"},
        {"file://localhost/tmp/a%2fb.png", "/tmp/a/b.png"},
        {"file:///tmp/100%.png", "/tmp/100%.png"},
        {"file:///tmp/a.png?x=1", "/tmp/a.png"},
        {"file://otherhost/tmp/a.png", ""},
        {"file:///tmp/a%00.png", ""},
        {"http://example.invalid/a.png", ""},
        {"/tmp/out.png", ""},
        {"", ""},
    };
    for (const Case& c : cases) EXPECT_EQ(path_from_file_uri(c.uri), c.path) << c.uri;
}
}  // namespace
