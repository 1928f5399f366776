#include "http/reply.h"

namespace {
const char* reason_phrase(int status) {
    switch (status) {
        case 100:
            return "Continue";
        case 200:
            return "OK";
        case 400:
            return "Bad Request";
        case 403:
            return "Forbidden";
        case 404:
            return "Not Found";
        case 408:
            return "Request Timeout";
        case 409:
            return "Conflict";
        case 413:
            return "Content Too Large";
        case 414:
            return "URI Too Long";
        case 431:
            return "Request Header Fields Too Large";
        case 500:
            return "Internal Server Error";
        case 501:
            return "Not Implemented";
        case 502:
            return "Bad Gateway";
        case 503:
            return "Service Unavailable";
        default:
            return status < 400 ? "OK" : "Error";
    }
}
}  // namespace

std::string json_text(const nlohmann::json& value) {
    return value.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

Reply json_reply(const nlohmann::json& value, int status) {
    return Reply{status, "application/json", json_text(value), false};
}

Reply error_reply(int status, const std::string& message) {
    return json_reply(nlohmann::json{{"error", message}}, status);
}

Reply bytes_reply(std::string bytes, const char* content_type) {
    return Reply{200, content_type, std::move(bytes), true};
}

std::string error_text(const Reply& reply) {
    auto body = nlohmann::json::parse(reply.body, nullptr, false);
    if (body.is_object() && body.contains("error") && body["error"].is_string()) return body["error"];
    return {};
}

std::string reply_head(const Reply& reply) {
    std::string head = "HTTP/1.1 " + std::to_string(reply.status) + " " + reason_phrase(reply.status) + "\r\n";
    head += "Content-Type: " + reply.content_type + "\r\n";
    head += "Content-Length: " + std::to_string(reply.body.size()) + "\r\n";
    if (reply.no_store) head += "Cache-Control: no-store\r\n";
    for (const auto& [name, value] : reply.headers) head += name + ": " + value + "\r\n";
    head += "Connection: close\r\n\r\n";
    return head;
}
