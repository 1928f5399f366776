#pragma once
// The screen's devices and what they show: "screen" (all of it),
// "screen:N" (monitor N, counted from 1, left to right) and "window:ID"
// (one top-level window). Pure, so that every platform shares the rules.
#include "screen/screen_backend.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

inline constexpr const char* screen_device_id = "screen";

// The target a device id names; nothing when the id is none of the screen's.
// "screen:0", "screen:x" and "window:" with no id name nothing either.
std::optional<ScreenTarget> parse_screen_device(std::string_view id);

std::string monitor_device_id(int number);                   // "screen:2"
std::string window_device_id(const std::string& window_id);  // "window:0x3c00007"

// "Screen 2: DP-1 2560x1440"
std::string monitor_device_name(int number, const MonitorInfo& monitor);

// The monitor's own picture size (its area's size unless it says otherwise).
FrameSize monitor_size(const MonitorInfo& monitor);

// Left to right, then top to bottom, as the devices number them.
void sort_monitors(std::vector<MonitorInfo>& monitors);

// The monitor (1-based) that shows the largest part of `area`; 0 for none.
int monitor_showing(const FrameRegion& area, const std::vector<MonitorInfo>& monitors);

// The part of `a` that `b` covers too; width or height 0 when none.
FrameRegion overlap(const FrameRegion& a, const FrameRegion& b);

// An X window id as /windows writes it ("0x3c00007"), and back: "0x" and
// hexadecimal digits, or decimal digits (as xdotool and xwininfo -int give
// them); nothing for anything else or 0.
std::string x_window_id_text(std::uint32_t id);
std::optional<std::uint32_t> parse_x_window_id(std::string_view text);
