#include "sources/http_url.h"

#include <algorithm>
#include <cctype>

namespace {
bool printable_without_space(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) {
        auto u = static_cast<unsigned char>(c);
        return u > 0x20 && u != 0x7f;
    });
}

bool host_name_char(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' || c == '_';
}

bool starts_with_http(std::string_view url) {
    constexpr std::string_view scheme = "http://";
    if (url.size() < scheme.size()) return false;
    for (std::size_t i = 0; i < scheme.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(url[i])) != scheme[i]) return false;
    }
    return true;
}
}  // namespace

std::optional<HttpUrl> parse_http_url(std::string_view url) {
    if (!starts_with_http(url) || !printable_without_space(url)) return std::nullopt;
    std::string_view rest = url.substr(7);
    std::size_t end = rest.find_first_of("/?#");
    std::string_view authority = rest.substr(0, end);
    std::string_view tail = end == std::string_view::npos ? std::string_view() : rest.substr(end);
    if (authority.find('@') != std::string_view::npos) return std::nullopt;

    HttpUrl result;
    std::string_view port_text;
    if (!authority.empty() && authority.front() == '[') {
        std::size_t close = authority.find(']');
        if (close == std::string_view::npos || close == 1) return std::nullopt;
        std::string_view inside = authority.substr(1, close - 1);
        if (!std::all_of(inside.begin(), inside.end(),
                         [](char c) { return std::isxdigit(static_cast<unsigned char>(c)) || c == ':' || c == '.'; })) {
            return std::nullopt;
        }
        result.host = std::string(inside);
        std::string_view after = authority.substr(close + 1);
        if (!after.empty()) {
            if (after.front() != ':') return std::nullopt;
            port_text = after.substr(1);
            if (port_text.empty()) return std::nullopt;
        }
    } else {
        std::size_t colon = authority.find(':');
        std::string_view host = authority.substr(0, colon);
        if (host.empty() || !std::all_of(host.begin(), host.end(), host_name_char)) return std::nullopt;
        result.host = std::string(host);
        if (colon != std::string_view::npos) {
            port_text = authority.substr(colon + 1);
            if (port_text.empty()) return std::nullopt;
        }
    }
    if (!port_text.empty()) {
        if (port_text.size() > 5) return std::nullopt;
        int port = 0;
        for (char c : port_text) {
            if (c < '0' || c > '9') return std::nullopt;
            port = port * 10 + (c - '0');
        }
        if (port < 1 || port > 65535) return std::nullopt;
        result.port = port;
    }
    std::string_view target = tail.substr(0, tail.find('#'));
    if (target.empty())
        result.target = "/";
    else if (target.front() == '?')
        result.target = "/" + std::string(target);
    else
        result.target = std::string(target);
    return result;
}
