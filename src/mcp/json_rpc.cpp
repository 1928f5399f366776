#include "mcp/json_rpc.h"

#include <cmath>
#include <vector>

namespace {
constexpr std::size_t max_depth = 128;

// Builds the value like the library's own parser, and also keeps the text of
// a fractional or very large number given as the message's id, which the
// value alone would not give back digit for digit.
struct MessageParser : nlohmann::json_sax<JsonValue> {
    JsonValue root;
    std::vector<JsonValue*> open;  // the arrays and objects being filled
    std::string member_name;       // the name of the member that comes next
    std::optional<std::string> id_number_text;

    JsonValue* add(JsonValue value) {
        if (open.empty()) {
            root = std::move(value);
            return &root;
        }
        JsonValue& parent = *open.back();
        if (parent.is_array()) {
            parent.push_back(std::move(value));
            return &parent.back();
        }
        JsonValue& member = parent[member_name];
        member = std::move(value);
        return &member;
    }
    bool start(JsonValue value) {
        if (open.size() >= max_depth) return false;
        open.push_back(add(std::move(value)));
        return true;
    }

    bool null() override { return add(nullptr), true; }
    bool boolean(bool value) override { return add(value), true; }
    bool number_integer(number_integer_t value) override { return add(value), true; }
    bool number_unsigned(number_unsigned_t value) override { return add(value), true; }
    bool number_float(number_float_t value, const string_t& text) override {
        if (!std::isfinite(value)) return false;
        if (open.size() == 1 && open.back() == &root && member_name == "id") id_number_text = text;
        return add(value), true;
    }
    bool string(string_t& value) override { return add(std::move(value)), true; }
    bool binary(binary_t&) override { return false; }
    bool start_object(std::size_t) override { return start(JsonValue::object()); }
    bool key(string_t& name) override {
        member_name = std::move(name);
        return true;
    }
    bool end_object() override { return open.pop_back(), true; }
    bool start_array(std::size_t) override { return start(JsonValue::array()); }
    bool end_array() override { return open.pop_back(), true; }
    bool parse_error(std::size_t, const std::string&, const nlohmann::detail::exception&) override { return false; }
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

std::string error_line(const std::optional<std::string>& id_text, int code, std::string_view message) {
    JsonValue error = JsonValue::object();
    error["code"] = code;
    error["message"] = message;
    return line_head(id_text) + ",\"error\":" + json_text(error) + "}";
}

std::string notification_line(std::string_view method, const JsonValue& params) {
    JsonValue message = JsonValue::object();
    message["jsonrpc"] = "2.0";
    message["method"] = method;
    message["params"] = params;
    return json_text(message);
}
