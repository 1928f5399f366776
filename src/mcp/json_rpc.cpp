#include "mcp/json_rpc.h"

namespace {
// Builds the message as every reply is read, and also keeps the text of a
// fractional or very large number given as the message's id, which the value
// alone would not give back digit for digit.
struct MessageParser : JsonBuilder {
    std::optional<std::string> id_number_text;

    bool number_float(number_float_t value, const string_t& text) override {
        if (at_top_member("id")) id_number_text = text;
        return JsonBuilder::number_float(value, text);
    }
};

bool blank(std::string_view line) {
    return line.find_first_not_of(" \t\r\n") == std::string_view::npos;
}

RpcMessage invalid(RpcMessage message, std::string problem) {
    message.kind = MessageKind::invalid;
    message.problem = std::move(problem);
    return message;
}
}  // namespace

RpcMessage read_message(std::string_view line) {
    RpcMessage message;
    if (blank(line)) return message;
    MessageParser parser;
    bool parsed = JsonValue::sax_parse(line.begin(), line.end(), &parser, nlohmann::json::input_format_t::json, true);
    if (!parsed) {
        message.kind = MessageKind::unparsable;
        return message;
    }
    JsonValue& value = parser.root;
    if (!value.is_object()) return invalid(std::move(message), "a message must be a JSON object");

    auto id = value.find("id");
    if (id != value.end()) {
        if (!id->is_string() && !id->is_number()) return invalid(std::move(message), "id must be a string or a number");
        message.id = *id;
        message.id_text = id->is_number_float() && parser.id_number_text ? *parser.id_number_text : json_text(*id);
    }
    if (json_member(value, "jsonrpc") != "2.0") return invalid(std::move(message), "jsonrpc must be \"2.0\"");

    auto method = value.find("method");
    if (method == value.end()) {
        if (message.id_text && (value.contains("result") || value.contains("error"))) {
            message.kind = MessageKind::response;
            return message;
        }
        return invalid(std::move(message), "a request needs a method");
    }
    if (!method->is_string()) return invalid(std::move(message), "method must be a string");
    message.method = method->get<std::string>();

    auto params = value.find("params");
    if (params != value.end()) {
        // An array is a JSON-RPC request all the same; the method refuses it.
        // A notification is never answered, whatever its params.
        if (!params->is_object() && !params->is_array() && message.id_text) {
            return invalid(std::move(message), "params must be an object");
        }
        if (params->is_object() || params->is_array()) message.params = std::move(*params);
    }
    message.kind = message.id_text ? MessageKind::request : MessageKind::notification;
    return message;
}

namespace {
std::string line_head(const std::optional<std::string>& id_text) {
    std::string line = "{\"jsonrpc\":\"2.0\"";
    if (id_text) line += ",\"id\":" + *id_text;
    return line;
}
}  // namespace

std::string result_line(const std::optional<std::string>& id_text, const JsonValue& result) {
    return line_head(id_text) + ",\"result\":" + json_text(result) + "}";
}

std::string error_line(const std::optional<std::string>& id_text, int code, std::string_view message,
                       const JsonValue& data) {
    JsonValue error = JsonValue::object();
    error["code"] = code;
    error["message"] = message;
    if (!data.is_null()) error["data"] = data;
    return line_head(id_text) + ",\"error\":" + json_text(error) + "}";
}

std::string notification_line(std::string_view method, const JsonValue& params) {
    JsonValue message = JsonValue::object();
    message["jsonrpc"] = "2.0";
    message["method"] = method;
    message["params"] = params;
    return json_text(message);
}
