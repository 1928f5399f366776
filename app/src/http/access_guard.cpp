#include "http/access_guard.h"

#include <algorithm>
#include <cctype>

namespace {
std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

// The header line, as the browser spells it, that shows a web page sent the
// request; nullopt when there is none.
std::optional<std::string> browser_mark(const HttpRequest& request) {
    for (const auto& [name, value] : request.headers) {
        if (name == "origin") return "an Origin";
        if (name == "referer") return "a Referer";
        if (name.rfind("sec-fetch-", 0) == 0) {
            std::string spelled = "a Sec-Fetch-";
            std::string rest = name.substr(10);
            if (!rest.empty()) rest[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(rest[0])));
            return spelled + rest;
        }
    }
    return std::nullopt;
}
}  // namespace

std::optional<std::string> access_problem(const HttpRequest& request, int port) {
    if (auto mark = browser_mark(request)) {
        return "requests from web pages are refused (the request carries " + *mark + " header)";
    }
    // An absolute-form target names the host instead of the Host header.
    if (request.authority.empty() && header_count(request, "host") != 1) {
        return "the request must carry exactly one Host header";
    }
    std::string host = request.authority.empty() ? header_value(request, "host") : request.authority;
    std::string port_text = std::to_string(port);
    if (lower(host) == "127.0.0.1:" + port_text || lower(host) == "localhost:" + port_text) return std::nullopt;
    return "the Host header must be 127.0.0.1:" + port_text + " or localhost:" + port_text + " (got \"" + host + "\")";
}
