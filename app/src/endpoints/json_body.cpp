#include "endpoints/json_body.h"

#include "fault.h"

#include <limits>

using nlohmann::json;

json parse_json_object(const std::string& body) {
    // An empty body reads as an empty object: every member is then "not given".
    if (body.find_first_not_of(" \t\r\n") == std::string::npos) return json::object();
    json value = json::parse(body, nullptr, /*allow_exceptions=*/false);
    if (value.is_discarded()) {
        throw Fault{FaultKind::bad_argument, "the request body is not valid JSON"};
    }
    if (!value.is_object()) {
        throw Fault{FaultKind::bad_argument, "the request body must be a JSON object"};
    }
    return value;
}

static const json* member(const json& object, const char* key) {
    auto it = object.find(key);
    if (it == object.end() || it->is_null()) return nullptr;
    return &*it;
}

std::optional<std::string> optional_string_member(const json& object, const char* key) {
    const json* value = member(object, key);
    if (!value) return std::nullopt;
    if (!value->is_string()) {
        throw Fault{FaultKind::bad_argument, std::string("\"") + key + "\" must be a string or null"};
    }
    return value->get<std::string>();
}

std::string required_string_member(const json& object, const char* key) {
    const json* value = member(object, key);
    if (!value || !value->is_string()) {
        throw Fault{FaultKind::bad_argument, std::string("\"") + key + "\" must be a string"};
    }
    return value->get<std::string>();
}

std::optional<std::int64_t> optional_integer_member(const json& object, const char* key) {
    const json* value = member(object, key);
    if (!value) return std::nullopt;
    if (value->is_number_unsigned()) {
        auto number = value->get<std::uint64_t>();
        if (number > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
            throw Fault{FaultKind::bad_argument, std::string("\"") + key + "\" is too large"};
        }
        return static_cast<std::int64_t>(number);
    }
    if (value->is_number_integer()) return value->get<std::int64_t>();
    throw Fault{FaultKind::bad_argument, std::string("\"") + key + "\" must be a whole number"};
}

std::int64_t required_integer_member(const json& object, const char* key) {
    auto value = optional_integer_member(object, key);
    if (!value) throw Fault{FaultKind::bad_argument, std::string("\"") + key + "\" must be a whole number"};
    return *value;
}
