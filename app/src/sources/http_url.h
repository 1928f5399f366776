#pragma once
// Plain http:// addresses of network cameras.
#include <optional>
#include <string>
#include <string_view>

struct HttpUrl {
    std::string host;  // a name, an IPv4 address, or an IPv6 address without brackets
    int port = 80;
    std::string target;  // path and query, at least "/"
};

// Nullopt unless the text is "http://", a host, an optional ":port" and an
// optional path, with no spaces, control characters or user name.
std::optional<HttpUrl> parse_http_url(std::string_view url);
