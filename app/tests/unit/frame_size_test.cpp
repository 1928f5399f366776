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

namespace {
TEST(FrameSize, ScreensGoUpToTheDecodersLimit) {
    EXPECT_EQ(parse_frame_side("width", "8192", max_screen_side), 8192);
    try {
        parse_frame_side("width", "8193", max_screen_side);
        ADD_FAILURE() << "accepted 8193";
    } catch (const Fault& f) {
        EXPECT_EQ(f.message, "width must be a whole number from 16 to 8192 (got \"8193\")");
    }
    // A side that follows the aspect ratio of a wide screen is kept within the same limit.
    EXPECT_EQ(resolve_frame_size({std::nullopt, 1000}, {7680, 1000}, max_screen_side), (FrameSize{7680, 1000}));
    EXPECT_EQ(resolve_frame_size({std::nullopt, 1000}, {7680, 1000}), (FrameSize{4096, 1000}));
}

TEST(FrameSize, FittingWithinALimitKeepsTheAspectRatio) {
    struct Case {
        FrameSize size, expected;
    };
    for (const Case& c :
         {Case{{3840, 2160}, {3840, 2160}}, Case{{10240, 1440}, {8192, 1152}}, Case{{1000, 16384}, {500, 8192}},
          Case{{8192, 8192}, {8192, 8192}}, Case{{100000, 1}, {8192, 1}}}) {
        EXPECT_EQ(fit_within(c.size, max_screen_side), c.expected) << c.size.width << "x" << c.size.height;
    }
}

TEST(FrameSize, RegionsAreParsedAsSignedWholeNumbers) {
    EXPECT_EQ(parse_frame_region("10", "20", "300", "200"), (FrameRegion{10, 20, 300, 200}));
    EXPECT_EQ(parse_frame_region("-5", "0", "0", "-1"), (FrameRegion{-5, 0, 0, -1}));
    EXPECT_EQ(parse_frame_region("1000000", "-1000000", "007", "1"), (FrameRegion{1000000, -1000000, 7, 1}));
    struct Case {
        const char *x, *y, *w, *h;
        std::string message;
    };
    const Case cases[] = {
        {"", "0", "1", "1", "x must be a whole number of pixels (got \"\")"},
        {"0", "-", "1", "1", "y must be a whole number of pixels (got \"-\")"},
        {"0", "0", "1.5", "1", "w must be a whole number of pixels (got \"1.5\")"},
        {"0", "0", "1", "+1", "h must be a whole number of pixels (got \"+1\")"},
        {"1000001", "0", "1", "1", "x must be a whole number of pixels (got \"1000001\")"},
        {"0", "0", "99999999999", "1", "w must be a whole number of pixels (got \"99999999999\")"},
        {"0x10", "0", "1", "1", "x must be a whole number of pixels (got \"0x10\")"},
        {" 1", "0", "1", "1", "x must be a whole number of pixels (got \" 1\")"},
    };
    for (const Case& c : cases) {
        try {
            parse_frame_region(c.x, c.y, c.w, c.h);
            ADD_FAILURE() << "accepted " << c.x << "," << c.y << "," << c.w << "," << c.h;
        } catch (const Fault& f) {
            EXPECT_EQ(f.kind, FaultKind::bad_argument);
            EXPECT_EQ(f.message, c.message);
        }
    }
}

TEST(FrameSize, RegionsAreClippedToTheSourceOrRefusedWithItsSize) {
    struct Case {
        FrameRegion asked;
        FrameRegion expected;
    };
    const FrameSize source{1920, 1080};
    const Case kept[] = {
        {{0, 0, 1920, 1080}, {0, 0, 1920, 1080}},
        {{100, 50, 10, 20}, {100, 50, 10, 20}},
        {{1900, 1070, 100, 100}, {1900, 1070, 20, 10}},
        {{-10, -20, 30, 40}, {0, 0, 20, 20}},
        {{-1000000, -1000000, 1000000, 1000000}, {0, 0, 0, 0}},  // refused below: ends at 0
        {{1919, 1079, 1000000, 1000000}, {1919, 1079, 1, 1}},
        {{-1000000, 0, 1000000 + 5, 1}, {0, 0, 5, 1}},
    };
    for (const Case& c : kept) {
        bool empty = c.expected.width == 0;
        try {
            EXPECT_EQ(clip_region(c.asked, source, "screen:2"), c.expected) << region_text(c.asked);
            EXPECT_FALSE(empty) << region_text(c.asked);
        } catch (const Fault& f) {
            EXPECT_TRUE(empty) << region_text(c.asked) << ": " << f.message;
        }
    }
    struct Refused {
        FrameRegion asked;
        std::string message;
    };
    const Refused refused[] = {
        {{1920, 0, 10, 10},
         "the region x=1920 y=0 w=10 h=10 lies outside screen:2, which is 1920x1080 pixels (x and y count from 0 at "
         "its top left)"},
        {{0, -10, 10, 10},
         "the region x=0 y=-10 w=10 h=10 lies outside screen:2, which is 1920x1080 pixels (x and y count from 0 at "
         "its top left)"},
        {{5, 5, 0, 10},
         "the region x=5 y=5 w=0 h=10 is empty: w and h must be at least 1 (screen:2, which is "
         "1920x1080 pixels)"},
        {{5, 5, 10, -3},
         "the region x=5 y=5 w=10 h=-3 is empty: w and h must be at least 1 (screen:2, which is "
         "1920x1080 pixels)"},
    };
    for (const Refused& r : refused) {
        try {
            clip_region(r.asked, source, "screen:2");
            ADD_FAILURE() << "accepted " << region_text(r.asked);
        } catch (const Fault& f) {
            EXPECT_EQ(f.kind, FaultKind::bad_argument);
            EXPECT_EQ(f.message, r.message);
        }
    }
    EXPECT_EQ(region_text({-1, 2, 30, 4}), "-1,2,30,4");
}
}  // namespace
