#pragma once
// A camera server on localhost is a target for web pages: a page can make the
// browser send requests to it, either to 127.0.0.1 directly (the browser then
// adds an Origin header) or through a name of its own that resolves to
// 127.0.0.1 (DNS rebinding; the Host header then carries that name). Only
// requests that name the app by its loopback address or "localhost", with its
// port, and carry no Origin are served.
#include <optional>
#include <string>

struct RequestOrigin {
    std::optional<std::string> host;  // the Host header, when there is exactly one
    bool has_origin = false;          // any Origin header at all
};

// Nullopt when the request may be served, else why not.
std::optional<std::string> access_problem(const RequestOrigin& request, int port);
