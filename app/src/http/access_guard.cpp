#include "http/access_guard.h"

#include <algorithm>
#include <cctype>

namespace {
std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}
}  // namespace

std::optional<std::string> access_problem(const RequestOrigin& request, int port) {
    if (request.has_origin) {
        return "requests from web pages are refused (the request carries an Origin header)";
    }
    if (!request.host) return "the request must carry exactly one Host header";
    std::string port_text = std::to_string(port);
    std::string host = lower(*request.host);
    if (host == "127.0.0.1:" + port_text || host == "localhost:" + port_text) return std::nullopt;
    return "the Host header must be 127.0.0.1:" + port_text + " or localhost:" + port_text + " (got \"" +
           *request.host + "\")";
}
