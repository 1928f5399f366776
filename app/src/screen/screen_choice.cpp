#include "screen/screen_choice.h"

#include <cstdlib>

namespace {
std::string variable(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

bool same_letters(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
        if (lower(a[i]) != lower(b[i])) return false;
    }
    return true;
}
}  // namespace

SessionEnv session_from_environment() {
    return {variable("WAYLAND_DISPLAY"), variable("XDG_CURRENT_DESKTOP"), variable("DISPLAY")};
}

std::optional<ScreenWanted> parse_screen_wanted(std::string_view name) {
    if (name == "auto") return ScreenWanted::automatic;
    if (name == "x11") return ScreenWanted::x11;
    if (name == "wlroots") return ScreenWanted::wlroots;
    if (name == "portal") return ScreenWanted::portal;
    return std::nullopt;
}

const char* screen_kind_name(ScreenKind kind) {
    switch (kind) {
        case ScreenKind::x11:
            return "x11";
        case ScreenKind::wlroots:
            return "wlroots";
        case ScreenKind::portal:
            return "portal";
        case ScreenKind::none:
            break;
    }
    return nullptr;
}

bool desktop_is(const SessionEnv& session, std::string_view desktop) {
    std::string_view list = session.current_desktop;
    while (!list.empty()) {
        std::size_t colon = list.find(':');
        if (same_letters(list.substr(0, colon), desktop)) return true;
        if (colon == std::string_view::npos) break;
        list.remove_prefix(colon + 1);
    }
    return false;
}

ScreenKind choose_screen_kind(const SessionEnv& session, ScreenWanted wanted,
                              const std::function<bool()>& offers_screencopy) {
    switch (wanted) {
        case ScreenWanted::x11:
            return ScreenKind::x11;
        case ScreenWanted::wlroots:
            return ScreenKind::wlroots;
        case ScreenWanted::portal:
            return ScreenKind::portal;
        case ScreenWanted::automatic:
            break;
    }
    if (!session.wayland_display.empty()) {
        if (desktop_is(session, "GNOME") || desktop_is(session, "KDE")) return ScreenKind::portal;
        return offers_screencopy() ? ScreenKind::wlroots : ScreenKind::portal;
    }
    if (!session.x_display.empty()) return ScreenKind::x11;
    return ScreenKind::none;
}
