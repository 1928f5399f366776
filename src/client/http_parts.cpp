#include "client/http_parts.h"

#include <algorithm>

#include "client/text.h"
#include "platform/socket.h"

UrlParts split_url(std::string_view url) {
    if (url.substr(0, 7) == "http://") url.remove_prefix(7);
    std::size_t slash = url.find('/');
    if (slash == std::string_view::npos) return UrlParts{std::string(url), "/"};
    UrlParts parts{std::string(url.substr(0, slash)), "/"};
    parts.path.append(url.substr(slash + 1));
    return parts;
}

namespace {
bool all_digits(std::string_view text) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Decimal digits (leading zeros allowed) with a value of at most `limit`.
std::optional<std::uint64_t> decimal_at_most(std::string_view digits, std::uint64_t limit) {
    if (!all_digits(digits)) return std::nullopt;
    std::uint64_t value = 0;
    for (char c : digits) {
        auto digit = static_cast<std::uint64_t>(c - '0');
        if (value > (limit - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

// "1.2.3.4:port" or "[v6%scope]:port", with a port of digits only.
std::optional<ConnectTarget> numeric_target(std::string_view authority) {
    ConnectTarget target;
    target.numeric = true;
    std::string_view port_text;
    if (!authority.empty() && authority.front() == '[') {
        std::size_t close = authority.find(']');
        if (close == std::string_view::npos || authority.substr(close + 1, 1) != ":") return std::nullopt;
        std::string_view inside = authority.substr(1, close - 1);
        port_text = authority.substr(close + 2);
        std::size_t percent = inside.find('%');
        if (percent != std::string_view::npos) {
            auto scope = decimal_at_most(inside.substr(percent + 1), UINT32_MAX);
            if (!scope) return std::nullopt;
            target.scope_id = static_cast<std::uint32_t>(*scope);
            inside = inside.substr(0, percent);
        }
        target.ipv6 = true;
        target.host = std::string(inside);
    } else {
        std::size_t colon = authority.rfind(':');
        if (colon == std::string_view::npos) return std::nullopt;
        std::string_view ip = authority.substr(0, colon);
        if (ip.empty() || ip.find_first_not_of("0123456789.") != std::string_view::npos) return std::nullopt;
        target.host = std::string(ip);
        port_text = authority.substr(colon + 1);
    }
    auto port = decimal_at_most(port_text, 65535);
    if (!port) return std::nullopt;
    target.port = static_cast<std::uint16_t>(*port);
    if (!numeric_address(target.host, target.ipv6, target.port, target.scope_id)) return std::nullopt;
    return target;
}
}  // namespace

ConnectTarget parse_authority(std::string_view authority) {
    if (auto target = numeric_target(authority)) return *target;
    ConnectTarget target;
    std::size_t colon = authority.rfind(':');
    if (colon == std::string_view::npos) {
        target.error = IoError{"invalid socket address"};
        return target;
    }
    std::string_view port_text = authority.substr(colon + 1);
    if (port_text.substr(0, 1) == "+") port_text.remove_prefix(1);
    auto port = decimal_at_most(port_text, 65535);
    if (!port) {
        target.error = IoError{"invalid port value"};
        return target;
    }
    target.host = std::string(authority.substr(0, colon));
    target.port = static_cast<std::uint16_t>(*port);
    return target;
}

std::uint16_t status_code(std::string_view line) {
    std::vector<std::string_view> fields = white_space_fields(line);
    if (fields.size() < 2) return 0;
    std::string_view code = fields[1];
    if (code.substr(0, 1) == "+") code.remove_prefix(1);
    auto value = decimal_at_most(code, 65535);
    return value ? static_cast<std::uint16_t>(*value) : 0;
}

std::optional<std::uint64_t> content_length(std::string_view line) {
    std::size_t colon = line.find(':');
    if (colon == std::string_view::npos) return std::nullopt;
    constexpr std::string_view name = "content-length";
    std::string_view found = line.substr(0, colon);
    if (found.size() != name.size()) return std::nullopt;
    for (std::size_t i = 0; i < name.size(); ++i) {
        char c = found[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != name[i]) return std::nullopt;
    }
    return decimal_at_most(trim_white_space(line.substr(colon + 1)), UINT64_MAX);
}

std::string escape_control_bytes(std::string_view text) {
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) {
            out += '%';
            out += hex[byte >> 4];
            out += hex[byte & 0x0F];
        } else {
            out += c;
        }
    }
    return out;
}

std::string request_head(std::string_view method, std::string_view path, std::string_view authority,
                         std::size_t body_size) {
    std::string head;
    head += method;
    head += ' ';
    head += escape_control_bytes(path);
    head += " HTTP/1.1\r\nHost: ";
    head += escape_control_bytes(authority);
    head += "\r\nConnection: close\r\n";
    if (body_size > 0) head += "Content-Type: application/json\r\n";
    head += "Content-Length: " + std::to_string(body_size) + "\r\n\r\n";
    return head;
}
