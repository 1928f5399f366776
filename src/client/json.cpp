#include "client/json.h"

#include <charconv>
#include <cmath>

namespace {
void write_string(std::string& out, const std::string& text) {
    static const char hex[] = "0123456789abcdef";
    out += '"';
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\b': out += "\\b"; break;
        case '\t': out += "\\t"; break;
        case '\n': out += "\\n"; break;
        case '\f': out += "\\f"; break;
        case '\r': out += "\\r"; break;
        default:
            if (byte < 0x20) {
                out += "\\u00";
                out += hex[byte >> 4];
                out += hex[byte & 0x0F];
            } else {
                out += c;
            }
        }
    }
    out += '"';
}

void write_indent(std::string& out, int indent, int level) {
    if (indent < 0) return;
    out += '\n';
    out.append(static_cast<std::size_t>(indent * level), ' ');
}

// `indent` is -1 for the compact form.
void write_value(std::string& out, const JsonValue& value, int indent, int level) {
    switch (value.type()) {
    case JsonValue::value_t::boolean: out += value.get<bool>() ? "true" : "false"; return;
    case JsonValue::value_t::number_integer: out += std::to_string(value.get<std::int64_t>()); return;
    case JsonValue::value_t::number_unsigned: out += std::to_string(value.get<std::uint64_t>()); return;
    case JsonValue::value_t::number_float: out += float_text(value.get<double>()); return;
    case JsonValue::value_t::string: write_string(out, value.get_ref<const std::string&>()); return;
    case JsonValue::value_t::array: {
        const auto& items = value.get_ref<const JsonValue::array_t&>();
        if (items.empty()) {
            out += "[]";
            return;
        }
        out += '[';
        bool first = true;
        for (const JsonValue& item : items) {
            if (!first) out += ',';
            first = false;
            write_indent(out, indent, level + 1);
            write_value(out, item, indent, level + 1);
        }
        write_indent(out, indent, level);
        out += ']';
        return;
    }
    case JsonValue::value_t::object: {
        const auto& members = value.get_ref<const JsonValue::object_t&>();
        if (members.empty()) {
            out += "{}";
            return;
        }
        out += '{';
        bool first = true;
        for (const auto& [key, member] : members) {
            if (!first) out += ',';
            first = false;
            write_indent(out, indent, level + 1);
            write_string(out, key);
            out += indent < 0 ? ":" : ": ";
            write_value(out, member, indent, level + 1);
        }
        write_indent(out, indent, level);
        out += '}';
        return;
    }
    default: out += "null"; return;
    }
}
}  // namespace

std::string json_text(const JsonValue& value) {
    std::string out;
    write_value(out, value, -1, 0);
    return out;
}

std::string json_pretty(const JsonValue& value) {
    std::string out;
    write_value(out, value, 2, 0);
    return out;
}

const JsonValue& json_member(const JsonValue& value, std::string_view key) {
    static const JsonValue null_value;
    if (!value.is_object()) return null_value;
    const auto& members = value.get_ref<const JsonValue::object_t&>();
    auto found = members.find(key);
    return found == members.end() ? null_value : found->second;
}

std::string json_string_or(const JsonValue& value, std::string_view fallback) {
    if (value.is_string()) return value.get<std::string>();
    return std::string(fallback);
}

double json_number_or(const JsonValue& value, double fallback) {
    if (value.is_number()) return value.get<double>();
    return fallback;
}

std::optional<std::int64_t> json_int64(const JsonValue& value) {
    if (value.is_number_integer() && !value.is_number_unsigned()) return value.get<std::int64_t>();
    if (value.is_number_unsigned()) {
        auto unsigned_value = value.get<std::uint64_t>();
        if (unsigned_value <= static_cast<std::uint64_t>(INT64_MAX)) return static_cast<std::int64_t>(unsigned_value);
    }
    return std::nullopt;
}

std::string float_text(double value) {
    if (!std::isfinite(value)) return "null";  // JSON has no such numbers
    if (value == 0) return std::signbit(value) ? "-0.0" : "0.0";
    // The shortest digits that read back as `value`, and the power of ten
    // of the first one.
    char buffer[64];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, std::fabs(value), std::chars_format::scientific);
    std::string_view text(buffer, static_cast<std::size_t>(result.ptr - buffer));
    std::size_t e = text.find('e');
    std::string digits;
    for (char c : text.substr(0, e)) {
        if (c != '.') digits += c;
    }
    int exponent = 0;
    std::string_view exponent_text = text.substr(e + 1);
    if (exponent_text.front() == '+') exponent_text.remove_prefix(1);
    std::from_chars(exponent_text.data(), exponent_text.data() + exponent_text.size(), exponent);

    const int length = static_cast<int>(digits.size());
    const int point = exponent + 1;  // digits before the decimal point
    std::string out = value < 0 ? "-" : "";
    if (length <= point && point <= 16) {
        out += digits;
        out.append(static_cast<std::size_t>(point - length), '0');
        out += ".0";
    } else if (0 < point && point <= 16) {
        out += digits.substr(0, static_cast<std::size_t>(point));
        out += '.';
        out += digits.substr(static_cast<std::size_t>(point));
    } else if (-5 < point && point <= 0) {
        out += "0.";
        out.append(static_cast<std::size_t>(-point), '0');
        out += digits;
    } else {
        out += digits[0];
        if (length > 1) {
            out += '.';
            out += digits.substr(1);
        }
        out += 'e';
        out += std::to_string(point - 1);
    }
    return out;
}

std::string whole_number_text(double value) {
    char buffer[400];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 0);
    return std::string(buffer, result.ptr);
}
