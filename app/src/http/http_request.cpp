#include "http/http_request.h"

#include <algorithm>

std::string query_value(const HttpRequest& request, std::string_view name) {
    for (const auto& [key, value] : request.query) {
        if (key == name) return value;
    }
    return {};
}

bool has_query(const HttpRequest& request, std::string_view name) {
    return std::any_of(request.query.begin(), request.query.end(), [&](const auto& p) { return p.first == name; });
}

std::size_t header_count(const HttpRequest& request, std::string_view name) {
    return static_cast<std::size_t>(
        std::count_if(request.headers.begin(), request.headers.end(), [&](const auto& h) { return h.first == name; }));
}

std::string header_value(const HttpRequest& request, std::string_view name) {
    for (const auto& [key, value] : request.headers) {
        if (key == name) return value;
    }
    return {};
}
