#include "screen/screen_target.h"

#include <gtest/gtest.h>

namespace {
TEST(ScreenTarget, DeviceIdsNameTheWholeScreenAMonitorOrAWindow) {
    using Kind = ScreenTarget::Kind;
    struct Case {
        const char* id;
        bool screen;
        Kind kind;
        int monitor;
        const char* window;
    };
    const Case cases[] = {
        {"screen", true, Kind::whole, 0, ""},
        {"screen:1", true, Kind::monitor, 1, ""},
        {"screen:12", true, Kind::monitor, 12, ""},
        {"window:0x3c00007", true, Kind::window, 0, "0x3c00007"},
        {"window:my title", true, Kind::window, 0, "my title"},
        {"screen:0", false, Kind::whole, 0, ""},
        {"screen:01", false, Kind::whole, 0, ""},
        {"screen:", false, Kind::whole, 0, ""},
        {"screen:1x", false, Kind::whole, 0, ""},
        {"screen:1000", false, Kind::whole, 0, ""},
        {"screen:-1", false, Kind::whole, 0, ""},
        {"Screen", false, Kind::whole, 0, ""},
        {"window:", false, Kind::whole, 0, ""},
        {"0", false, Kind::whole, 0, ""},
        {"net:screen", false, Kind::whole, 0, ""},
    };
    for (const Case& c : cases) {
        auto target = parse_screen_device(c.id);
        ASSERT_EQ(target.has_value(), c.screen) << c.id;
        if (!target) continue;
        EXPECT_EQ(target->kind, c.kind) << c.id;
        EXPECT_EQ(target->monitor, c.monitor) << c.id;
        EXPECT_EQ(target->window, c.window) << c.id;
    }
}

TEST(ScreenTarget, MonitorsAreNumberedLeftToRightAndNamedWithTheirOutputAndSize) {
    std::vector<MonitorInfo> monitors = {{"HDMI-1", {2560, 0, 1920, 1080}},
                                         {"DP-1", {0, 0, 2560, 1440}},
                                         {"", {2560, 1080, 1280, 1024}},
                                         {"eDP-1", {4480, 0, 1920, 1200}, {3840, 2400}}};
    sort_monitors(monitors);
    std::vector<std::string> names;
    for (std::size_t i = 0; i < monitors.size(); ++i) {
        names.push_back(monitor_device_id(static_cast<int>(i) + 1) + " " +
                        monitor_device_name(static_cast<int>(i) + 1, monitors[i]));
    }
    EXPECT_EQ(names,
              (std::vector<std::string>{"screen:1 Screen 1: DP-1 2560x1440", "screen:2 Screen 2: HDMI-1 1920x1080",
                                        "screen:3 Screen 3: 1280x1024", "screen:4 Screen 4: eDP-1 3840x2400"}));
}

TEST(ScreenTarget, AWindowIsOnTheMonitorThatShowsMostOfIt) {
    std::vector<MonitorInfo> monitors = {{"A", {0, 0, 1000, 1000}}, {"B", {1000, 0, 1000, 1000}}};
    struct Case {
        FrameRegion window;
        int monitor;
    };
    for (const Case& c : {Case{{10, 10, 100, 100}, 1}, Case{{1500, 10, 100, 100}, 2}, Case{{900, 0, 300, 100}, 2},
                          Case{{800, 0, 300, 100}, 1}, Case{{3000, 0, 100, 100}, 0}, Case{{-200, -200, 100, 100}, 0},
                          Case{{500, 500, 0, 0}, 0}}) {
        EXPECT_EQ(monitor_showing(c.window, monitors), c.monitor) << region_text(c.window);
    }
    EXPECT_EQ(overlap({0, 0, 10, 10}, {5, 5, 10, 10}), (FrameRegion{5, 5, 5, 5}));
}

TEST(ScreenTarget, XWindowIdsAreReadAsTheyAreWritten) {
    EXPECT_EQ(x_window_id_text(0x3c00007), "0x3c00007");
    EXPECT_EQ(parse_x_window_id("0x3c00007"), 0x3c00007u);
    EXPECT_EQ(parse_x_window_id("0X3C00007"), 0x3c00007u);
    EXPECT_EQ(parse_x_window_id("62914567"), 62914567u);
    EXPECT_EQ(parse_x_window_id("0xffffffff"), 0xffffffffu);
    for (const char* bad : {"", "0x", "0", "0x0", "0x1ffffffff", "4294967296", "0x3c0000g", "-1", "my title", " 1"}) {
        EXPECT_FALSE(parse_x_window_id(bad).has_value()) << bad;
    }
}
}  // namespace
