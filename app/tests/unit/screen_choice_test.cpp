#include "screen/screen_choice.h"

#include <gtest/gtest.h>

namespace {
TEST(ScreenChoice, FollowsTheSessionTheAppRunsIn) {
    struct Case {
        SessionEnv session;
        bool screencopy;  // what the compositor would say
        ScreenKind kind;
        bool compositor_asked;
    };
    const Case cases[] = {
        {{"wayland-1", "sway", ""}, true, ScreenKind::wlroots, true},
        {{"wayland-1", "Hyprland", ":0"}, true, ScreenKind::wlroots, true},
        {{"wayland-1", "", ""}, true, ScreenKind::wlroots, true},
        {{"wayland-1", "river", ""}, false, ScreenKind::portal, true},
        // GNOME and KDE never offer wlr-screencopy; their X display is
        // XWayland, which would show the X clients only.
        {{"wayland-0", "GNOME", ":0"}, true, ScreenKind::portal, false},
        {{"wayland-0", "ubuntu:GNOME", ":0"}, true, ScreenKind::portal, false},
        {{"wayland-0", "KDE", ":1"}, false, ScreenKind::portal, false},
        {{"", "GNOME", ":0"}, true, ScreenKind::x11, false},
        {{"", "", ":0"}, true, ScreenKind::x11, false},
        {{"", "", ""}, true, ScreenKind::none, false},
    };
    for (const Case& c : cases) {
        bool asked = false;
        ScreenKind kind = choose_screen_kind(c.session, ScreenWanted::automatic, [&] {
            asked = true;
            return c.screencopy;
        });
        std::string label = c.session.wayland_display + "|" + c.session.current_desktop + "|" + c.session.x_display;
        EXPECT_EQ(kind, c.kind) << label;
        EXPECT_EQ(asked, c.compositor_asked) << label;
    }
}

TEST(ScreenChoice, ANamedBackendIsTakenAsNamed) {
    SessionEnv gnome{"wayland-0", "GNOME", ":0"};
    auto never = []() -> bool {
        ADD_FAILURE() << "the compositor was asked";
        return false;
    };
    EXPECT_EQ(choose_screen_kind(gnome, ScreenWanted::x11, never), ScreenKind::x11);
    EXPECT_EQ(choose_screen_kind(gnome, ScreenWanted::wlroots, never), ScreenKind::wlroots);
    EXPECT_EQ(choose_screen_kind({"", "", ":0"}, ScreenWanted::portal, never), ScreenKind::portal);

    EXPECT_EQ(parse_screen_wanted("auto"), ScreenWanted::automatic);
    EXPECT_EQ(parse_screen_wanted("portal"), ScreenWanted::portal);
    EXPECT_EQ(parse_screen_wanted("Portal"), std::nullopt);
    EXPECT_EQ(parse_screen_wanted(""), std::nullopt);
}

TEST(ScreenChoice, DesktopNamesAreAColonListWithoutRegardToCase) {
    SessionEnv s{"", "ubuntu:GNOME", ""};
    EXPECT_TRUE(desktop_is(s, "gnome"));
    EXPECT_TRUE(desktop_is(s, "ubuntu"));
    EXPECT_FALSE(desktop_is(s, "GNOME-Classic"));
    EXPECT_FALSE(desktop_is(s, "GNOM"));
    EXPECT_FALSE(desktop_is({"", "", ""}, "GNOME"));
}
}  // namespace
