#pragma once
// Talking to the app: where it is, GET and POST, and what a failure says.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "client/http.h"
#include "client/json.h"
#include "client/result.h"

// The last line of the unreachable message, for vistrel: how to give it
// another port.
inline constexpr std::string_view vistrel_port_hint =
    "Different port?     vistrel --port=7999 \u2026  or set VISTREL_PORT";

// How to reach the app.
struct AppLink {
    // The port text as the caller was given it (--port), pasted into the
    // address verbatim; absent: VISTREL_PORT, else 7777.
    std::optional<std::string> port;
    std::uint32_t timeout_ms = receive_timeout_ms;
    // When given, ends the exchange from another thread (see ExchangeStop).
    ExchangeStop* stop = nullptr;
    // How the program that asks tells the user to give another port.
    std::string_view port_hint = vistrel_port_hint;
};

// "http://127.0.0.1:{port}/api" with `port`, else VISTREL_PORT (when it is
// valid Unicode), else 7777. The environment is read afresh at every call.
std::string base_url(const std::optional<std::string>& port);

// One exchange with the app; a reply of any status is a success here. An
// exchange that fails gives the unreachable message.
Result<HttpReply> api_get(const AppLink& app, std::string_view path);
Result<HttpReply> api_post(const AppLink& app, std::string_view path, const JsonValue& body);

// A reply whose status is known and whose body is still on the connection.
struct ApiReply {
    std::string base;  // the base address it went to, for the unreachable message
    IncomingReply incoming;
    std::string_view port_hint = vistrel_port_hint;
};

// The first step of an exchange: sends `method` (with `body` when it is not
// empty) and reads the reply's head. The caller then reads the body with
// `api_read_body` into whatever suits it.
Result<ApiReply> api_start(const AppLink& app, std::string_view method, std::string_view path, std::string body);
Result<std::uint64_t> api_read_body(ApiReply& reply, BodySink& sink);

// "cannot reach Vistrel at {base} ({error})" and the two hint lines, the
// second being `port_hint`.
Failure unreachable_failure(std::string_view base, const IoError& error,
                            std::string_view port_hint = vistrel_port_hint);

// The message a refusal without an "error" string of its own gets.
inline constexpr std::string_view rejected_request = "the app rejected the request";

// A status of 400 or more is a refusal; every other status, 0 included, a success.
bool is_refusal(std::uint16_t status);

// A refusal's message: the body's "error" member when it is a string, else `fallback`.
Failure refusal_failure(std::string_view body, std::string_view fallback);

// The body of a successful reply as JSON (null when it is not JSON), or the refusal.
Result<JsonValue> reply_json(const HttpReply& reply, std::string_view fallback = rejected_request);
