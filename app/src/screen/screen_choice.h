#pragma once
// Which screen backend fits the session the app runs in. Pure, so that the
// rule can be tested without a desktop.
#include <functional>
#include <optional>
#include <string>
#include <string_view>

// The environment variables that say what session the app is in.
struct SessionEnv {
    std::string wayland_display;  // WAYLAND_DISPLAY
    std::string current_desktop;  // XDG_CURRENT_DESKTOP, e.g. "GNOME" or "ubuntu:GNOME"
    std::string x_display;        // DISPLAY
};
SessionEnv session_from_environment();

// --screen: auto, or one backend by name.
enum class ScreenWanted { automatic, x11, wlroots, portal };
std::optional<ScreenWanted> parse_screen_wanted(std::string_view name);

enum class ScreenKind { none, x11, wlroots, portal };
const char* screen_kind_name(ScreenKind kind);  // null for none

// A Wayland session gets wlr-screencopy when its compositor offers it (sway,
// Hyprland, river…), else xdg-desktop-portal (GNOME, KDE, the rest); only
// without Wayland does DISPLAY count, since under Wayland the X display is
// XWayland, which shows the X clients only. `offers_screencopy` asks the
// compositor; it is not asked for GNOME and KDE, which never offer it.
ScreenKind choose_screen_kind(const SessionEnv& session, ScreenWanted wanted,
                              const std::function<bool()>& offers_screencopy);

// Whether XDG_CURRENT_DESKTOP names `desktop` (case aside) among its entries.
bool desktop_is(const SessionEnv& session, std::string_view desktop);
