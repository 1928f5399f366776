#include "screen/screen_target.h"

#include <algorithm>
#include <cstdio>

std::optional<ScreenTarget> parse_screen_device(std::string_view id) {
    if (id == screen_device_id) return ScreenTarget{};
    constexpr std::string_view monitor_prefix = "screen:", window_prefix = "window:";
    if (id.substr(0, monitor_prefix.size()) == monitor_prefix) {
        std::string_view digits = id.substr(monitor_prefix.size());
        if (digits.empty() || digits.size() > 3 || digits.front() == '0') return std::nullopt;
        int number = 0;
        for (char c : digits) {
            if (c < '0' || c > '9') return std::nullopt;
            number = number * 10 + (c - '0');
        }
        return ScreenTarget{ScreenTarget::Kind::monitor, number, {}};
    }
    if (id.substr(0, window_prefix.size()) == window_prefix && id.size() > window_prefix.size()) {
        return ScreenTarget{ScreenTarget::Kind::window, 0, std::string(id.substr(window_prefix.size()))};
    }
    return std::nullopt;
}

std::string monitor_device_id(int number) {
    return "screen:" + std::to_string(number);
}

std::string window_device_id(const std::string& window_id) {
    return "window:" + window_id;
}

std::string monitor_device_name(int number, const MonitorInfo& monitor) {
    std::string name = "Screen " + std::to_string(number) + ":";
    if (!monitor.name.empty()) name += " " + monitor.name;
    FrameSize size = monitor_size(monitor);
    return name + " " + std::to_string(size.width) + "x" + std::to_string(size.height);
}

FrameSize monitor_size(const MonitorInfo& monitor) {
    if (monitor.size.width > 0 && monitor.size.height > 0) return monitor.size;
    return {monitor.area.width, monitor.area.height};
}

void sort_monitors(std::vector<MonitorInfo>& monitors) {
    std::stable_sort(monitors.begin(), monitors.end(), [](const MonitorInfo& a, const MonitorInfo& b) {
        if (a.area.x != b.area.x) return a.area.x < b.area.x;
        return a.area.y < b.area.y;
    });
}

FrameRegion overlap(const FrameRegion& a, const FrameRegion& b) {
    long left = std::max(a.x, b.x), top = std::max(a.y, b.y);
    long right = std::min(static_cast<long>(a.x) + a.width, static_cast<long>(b.x) + b.width);
    long bottom = std::min(static_cast<long>(a.y) + a.height, static_cast<long>(b.y) + b.height);
    if (right <= left || bottom <= top) return {static_cast<int>(left), static_cast<int>(top), 0, 0};
    return {static_cast<int>(left), static_cast<int>(top), static_cast<int>(right - left),
            static_cast<int>(bottom - top)};
}

int monitor_showing(const FrameRegion& area, const std::vector<MonitorInfo>& monitors) {
    int best = 0;
    long long best_pixels = 0;
    for (std::size_t i = 0; i < monitors.size(); ++i) {
        FrameRegion common = overlap(area, monitors[i].area);
        long long pixels = static_cast<long long>(common.width) * common.height;
        if (pixels > best_pixels) {
            best_pixels = pixels;
            best = static_cast<int>(i) + 1;
        }
    }
    return best;
}

std::string x_window_id_text(std::uint32_t id) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%x", static_cast<unsigned>(id));
    return text;
}

std::optional<std::uint32_t> parse_x_window_id(std::string_view text) {
    bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    std::string_view digits = hex ? text.substr(2) : text;
    if (digits.empty() || digits.size() > (hex ? 8u : 10u)) return std::nullopt;
    unsigned long long value = 0;
    for (char c : digits) {
        int digit = -1;
        if (c >= '0' && c <= '9') digit = c - '0';
        if (hex && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        if (hex && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        if (digit < 0) return std::nullopt;
        value = value * (hex ? 16 : 10) + static_cast<unsigned>(digit);
    }
    if (value == 0 || value > 0xffffffffULL) return std::nullopt;
    return static_cast<std::uint32_t>(value);
}
