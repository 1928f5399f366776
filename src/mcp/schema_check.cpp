#include "mcp/schema_check.h"

#include <algorithm>
#include <cmath>

#include "client/text.h"

std::optional<std::int64_t> whole_number(const JsonValue& value) {
    if (value.is_number_integer()) return json_int64(value);
    if (!value.is_number_float()) return std::nullopt;
    double number = value.get<double>();
    // 2^63 is the first double above the range.
    if (std::trunc(number) != number || number < -9223372036854775808.0 || number >= 9223372036854775808.0) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(number);
}

namespace {
bool has_type(const JsonValue& value, const std::string& type) {
    if (type == "object") return value.is_object();
    if (type == "string") return value.is_string();
    if (type == "boolean") return value.is_boolean();
    if (type == "number") return value.is_number();
    if (type == "integer") {
        if (value.is_number_integer()) return true;
        return value.is_number_float() && std::trunc(value.get<double>()) == value.get<double>();
    }
    if (type == "array") return value.is_array();
    if (type == "null") return value.is_null();
    return false;
}

std::string type_words(const std::string& type) {
    if (type == "integer") return "a whole number";
    if (type == "object" || type == "array") return "an " + type;
    return "a " + type;
}

// -1, 0 or 1 as `a` is below, equal to or above `b`; integers compare exactly.
int compare_numbers(const JsonValue& a, const JsonValue& b) {
    auto ia = whole_number(a), ib = whole_number(b);
    if (ia && ib) return *ia < *ib ? -1 : *ia > *ib;
    // Only an unsigned value beyond the signed range lacks a whole_number.
    if (a.is_number_unsigned() && !ia) return 1;
    if (b.is_number_unsigned() && !ib) return -1;
    double da = a.get<double>(), db = b.get<double>();
    return da < db ? -1 : da > db;
}
}  // namespace

std::optional<std::string> schema_problem(const JsonValue& schema, const JsonValue& value, const std::string& name) {
    const JsonValue& type = json_member(schema, "type");
    if (type.is_string() && !has_type(value, type.get<std::string>())) {
        return name + " must be " + type_words(type.get<std::string>());
    }
    // Whole numbers reach the app as 64-bit integers, whatever the schema says.
    if (type == "integer" && !whole_number(value)) {
        return name + (value.get<double>() > 0 ? " must be at most 9223372036854775807"
                                               : " must be at least -9223372036854775808");
    }
    const JsonValue& choices = json_member(schema, "enum");
    if (choices.is_array() && std::find(choices.begin(), choices.end(), value) == choices.end()) {
        std::string list;
        for (const JsonValue& choice : choices) list += (list.empty() ? "" : ", ") + json_text(choice);
        return name + " must be one of " + list;
    }
    if (value.is_number()) {
        const JsonValue& minimum = json_member(schema, "minimum");
        if (minimum.is_number() && compare_numbers(value, minimum) < 0) {
            return name + " must be at least " + json_text(minimum);
        }
        const JsonValue& maximum = json_member(schema, "maximum");
        if (maximum.is_number() && compare_numbers(value, maximum) > 0) {
            return name + " must be at most " + json_text(maximum);
        }
    }
    const JsonValue& min_length = json_member(schema, "minLength");
    if (value.is_string() && min_length.is_number_unsigned() &&
        character_count(value.get_ref<const std::string&>()) < min_length.get<std::size_t>()) {
        if (min_length == 1) return name + " must not be empty";
        return name + " must be at least " + json_text(min_length) + " characters long";
    }
    if (!value.is_object()) return std::nullopt;

    const JsonValue& properties = json_member(schema, "properties");
    for (const JsonValue& required : json_member(schema, "required")) {
        if (!value.contains(required.get<std::string>())) return name + " must have the member " + json_text(required);
    }
    for (const auto& [key, member] : value.items()) {
        const JsonValue& member_schema = json_member(properties, key);
        if (member_schema.is_null()) {
            if (json_member(schema, "additionalProperties") == false) {
                return name + " has the member " + json_text(key) + ", which is not one of its parameters";
            }
            continue;
        }
        if (auto problem = schema_problem(member_schema, member, name + "." + key)) return problem;
    }
    return std::nullopt;
}
