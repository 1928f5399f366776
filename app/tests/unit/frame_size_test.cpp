#include "imaging/frame_size.h"

#include "fault.h"

#include <gtest/gtest.h>

namespace {
TEST(FrameSize, AcceptsWholeNumbersWithinTheLimits) {
    EXPECT_EQ(parse_frame_side("width", "16"), 16);
    EXPECT_EQ(parse_frame_side("width", "640"), 640);
    EXPECT_EQ(parse_frame_side("width", "0640"), 640);
    EXPECT_EQ(parse_frame_side("height", "4096"), 4096);
}

TEST(FrameSize, RefusesEverythingElseNamingTheParameter) {
    for (const char* text : {"", "0", "15", "4097", "100000", "99999999999999999999", "-640", "+640", "64 0", " 640",
                             "640 ", "6.4e2", "0x100", "abc", "640px"}) {
        try {
            parse_frame_side("height", text);
            ADD_FAILURE() << "accepted \"" << text << "\"";
        } catch (const Fault& r) {
            EXPECT_EQ(r.kind, FaultKind::bad_argument);
            EXPECT_EQ(r.message, std::string("height must be a whole number from 16 to 4096 (got \"") + text + "\")");
        }
    }
}

TEST(FrameSize, MissingSidesFollowTheSourceAspectRatio) {
    struct Case {
        SizeRequest request;
        FrameSize native, expected;
    };
    const Case cases[] = {
        {{}, {1280, 720}, {1280, 720}},
        {{640, 480}, {1280, 720}, {640, 480}},
        {{640, std::nullopt}, {1280, 720}, {640, 360}},
        {{std::nullopt, 360}, {1280, 720}, {640, 360}},
        {{16, std::nullopt}, {1280, 720}, {16, 16}},  // kept within the limits
        {{4096, std::nullopt}, {100, 4000}, {4096, 4096}},
        // A source whose sides are far apart: the other side would not fit an int.
        {{4096, std::nullopt}, {1, 2'000'000'000}, {4096, 4096}},
        {{std::nullopt, 16}, {2'000'000'000, 0}, {4096, 16}},
    };
    for (const auto& c : cases) {
        FrameSize got = resolve_frame_size(c.request, c.native);
        EXPECT_EQ(got.width, c.expected.width);
        EXPECT_EQ(got.height, c.expected.height);
    }
}
}  // namespace
