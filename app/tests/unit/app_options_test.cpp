#include "app_options.h"

#include <gtest/gtest.h>

namespace {
struct PortCase {
    std::vector<std::string> args;
    const char* env;
    int port;
};

TEST(AppOptions, PortComesFromTheOptionThenTheEnvironmentThenTheDefault) {
    const PortCase cases[] = {
        {{}, nullptr, 7777},
        {{}, "8000", 8000},
        {{"--port", "9000"}, "8000", 9000},
        {{"--port=9001"}, nullptr, 9001},
        {{"--port", "0"}, nullptr, 0},
        {{"--port", "65535"}, nullptr, 65535},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(parse_app_options(c.args, c.env).port, c.port) << (c.env ? c.env : "-");
    }
}

TEST(AppOptions, RefusesBadValuesAndUnknownOptions) {
    const std::vector<std::vector<std::string>> bad = {
        {"--port", "65536"},   {"--port", "-1"},    {"--port", "abc"}, {"--port", ""}, {"--port"},
        {"--focus-at", "256"}, {"--focus-at", "x"}, {"--verbose"},     {"snap"},
        {"--screen", "X11"},   {"--screen", ""},    {"--screen"},
    };
    for (const auto& args : bad) {
        EXPECT_THROW(parse_app_options(args, nullptr), OptionError) << args[0];
    }
    EXPECT_THROW(parse_app_options({}, "seven"), OptionError);
}

TEST(AppOptions, TheSimulatedCameraIsServedOnlyWhenAskedFor) {
    EXPECT_FALSE(parse_app_options({}, nullptr).simulated_camera);
    EXPECT_FALSE(parse_app_options({"--port", "0", "--focus-at", "9"}, nullptr).simulated_camera);
    EXPECT_TRUE(parse_app_options({"--simulated-camera"}, nullptr).simulated_camera);
    EXPECT_THROW(parse_app_options({"--simulated-camera=1"}, nullptr), OptionError);
}

TEST(AppOptions, TheScreenBackendIsChosenFromTheSessionUnlessNamed) {
    EXPECT_EQ(parse_app_options({}, nullptr).screen, ScreenWanted::automatic);
    EXPECT_EQ(parse_app_options({"--screen", "portal"}, nullptr).screen, ScreenWanted::portal);
    EXPECT_EQ(parse_app_options({"--screen=wlroots"}, nullptr).screen, ScreenWanted::wlroots);
    EXPECT_EQ(parse_app_options({"--screen", "auto"}, nullptr).screen, ScreenWanted::automatic);
}

TEST(AppOptions, FocusPositionIsOptional) {
    EXPECT_FALSE(parse_app_options({}, nullptr).focus_at);
    EXPECT_EQ(parse_app_options({"--focus-at", "42"}, nullptr).focus_at, 42);
    EXPECT_EQ(parse_app_options({"--focus-at=0"}, nullptr).focus_at, 0);
    EXPECT_TRUE(parse_app_options({"--help"}, nullptr).help);
}
}  // namespace
