#pragma once
// What a handler answers: a status, a content type and the body bytes. Every
// reply closes its connection.
#include <nlohmann/json.hpp>

#include <string>
#include <utility>
#include <vector>

struct Reply {
    int status = 200;
    std::string content_type = "application/json";
    std::string body;
    bool no_store = false;  // pictures and recordings are never to be cached
    // More header lines an endpoint adds ("X-Vistrel-Source", "1920x1080"):
    // names and values of plain visible characters, set by the app only.
    std::vector<std::pair<std::string, std::string>> headers = {};
};

// JSON text that never throws: bytes that are not UTF-8 (they can come in
// through a query) are replaced rather than refused.
std::string json_text(const nlohmann::json& value);

Reply json_reply(const nlohmann::json& value, int status = 200);
Reply error_reply(int status, const std::string& message);
Reply bytes_reply(std::string bytes, const char* content_type);

// The "error" text of a refusal, or "" when the body has none.
std::string error_text(const Reply& reply);

// The status line and header lines, up to and including the empty line.
std::string reply_head(const Reply& reply);
