#pragma once
// One HTTP request as the server hands it to a handler.
#include "cancellation.h"

#include <chrono>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct HttpRequest {
    std::string method;
    std::string target;                                        // as sent, raw spaces included
    std::string version;                                       // "HTTP/1.1" or "HTTP/1.0"
    std::string authority;                                     // of an absolute-form target, else ""
    std::string path;                                          // the target before "?", percent-decoded
    std::vector<std::pair<std::string, std::string>> query;    // decoded, in the order sent
    std::vector<std::pair<std::string, std::string>> headers;  // names in lower case, values trimmed
    std::string body;                                          // decoded when it came chunked
    // When the whole request had arrived: the clock its time limits count from.
    std::chrono::steady_clock::time_point arrived;
    // True once the client has hung up or the app is stopping.
    CancelCheck cancelled = [] { return false; };
};

// The first value of a query parameter, or "" when it is absent.
std::string query_value(const HttpRequest& request, std::string_view name);
bool has_query(const HttpRequest& request, std::string_view name);

// How many header lines carry `name` (lower case), and the first one's value.
std::size_t header_count(const HttpRequest& request, std::string_view name);
std::string header_value(const HttpRequest& request, std::string_view name);
