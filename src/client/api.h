#pragma once
// Talking to the app: where it is, GET and POST, and what a failure says.
#include <string>
#include <string_view>

#include "cli/json.h"
#include "client/http.h"

// "http://127.0.0.1:{port}/api" with the port from --port, else
// VISTREL_PORT, else 7777. Read afresh at every call.
std::string base_url();

// One exchange; an app that cannot be reached ends the process.
HttpReply api_get(std::string_view path);
HttpReply api_post(std::string_view path, const JsonValue& body);

[[noreturn]] void fail_unreachable(const IoError& error);

// Exactly one JSON text, white space around it allowed, nested at most 128
// deep, strings in valid UTF-8; null for anything else.
JsonValue body_json(std::string_view bytes);

// A reply with a status of 400 or more ends the process with the app's
// "error" string, else with `fallback`.
void require_success(const HttpReply& reply, std::string_view fallback);

// The body of a successful reply as JSON; a refusal ends the process.
JsonValue reply_json(const HttpReply& reply);
