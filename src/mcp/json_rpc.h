#pragma once
// JSON-RPC 2.0 messages, one per line: reading a line into a message and
// writing replies and notifications as lines (without the line break).
#include <optional>
#include <string>
#include <string_view>

#include "client/json.h"

namespace rpc_error {
inline constexpr int parse_error = -32700;
inline constexpr int invalid_request = -32600;
inline constexpr int method_not_found = -32601;
inline constexpr int invalid_params = -32602;
inline constexpr int unsupported_protocol_version = -32022;  // revision 2026-07-28
}  // namespace rpc_error

enum class MessageKind {
    blank,         // nothing but white space: ignored
    unparsable,    // not one JSON text
    invalid,       // JSON, but not a request, notification or response
    request,       // has an id: must be answered
    notification,  // no id: never answered
    response,      // the client answering a request of ours: ignored
};

struct RpcMessage {
    MessageKind kind = MessageKind::blank;
    // The id as JSON, and its text exactly as it is echoed: a number keeps
    // the digits the client wrote.
    JsonValue id;
    std::optional<std::string> id_text;
    std::string method;
    JsonValue params = JsonValue::object();
    std::string problem;  // why an invalid message is invalid
};

RpcMessage read_message(std::string_view line);

// `id_text` absent: the id of the message could not be read.
std::string result_line(const std::optional<std::string>& id_text, const JsonValue& result);
std::string error_line(const std::optional<std::string>& id_text, int code, std::string_view message,
                       const JsonValue& data = nullptr);
std::string notification_line(std::string_view method, const JsonValue& params);
