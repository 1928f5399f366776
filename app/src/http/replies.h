#pragma once
// Every reply the app sends: JSON objects, file bytes and refusals.
#include <httplib.h>
#include <nlohmann/json.hpp>

#include <string>

// JSON text that never throws: bytes that are not UTF-8 (they can come in
// through a query) are replaced rather than refused.
std::string json_text(const nlohmann::json& value);

void reply_json(httplib::Response& res, const nlohmann::json& value, int status = 200);
void reply_error(httplib::Response& res, int status, const std::string& message);
void reply_bytes(httplib::Response& res, std::string bytes, const char* content_type);

// Runs a handler and turns whatever it throws into an error reply, so that no
// exception ever reaches the HTTP library.
httplib::Server::Handler guarded(httplib::Server::Handler handler);
