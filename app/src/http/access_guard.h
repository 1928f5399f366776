#pragma once
// A camera server on localhost is a target for web pages: a page can make the
// browser send requests to it, either to 127.0.0.1 directly or through a name
// of its own that resolves to 127.0.0.1 (DNS rebinding; the Host header then
// carries that name). Browsers mark what they send: Origin on most requests,
// Referer on many, and Sec-Fetch-* on every one, image loads included. Only
// requests that name the app by its loopback address or "localhost", with its
// port (in the Host header, or in an absolute-form target, which stands for
// it), and carry none of those marks are served.
#include "http/http_request.h"

#include <optional>
#include <string>

// Nullopt when the request may be served, else why not.
std::optional<std::string> access_problem(const HttpRequest& request, int port);
