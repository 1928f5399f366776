#pragma once
// JSON values and their two text forms. Objects keep their members in
// ascending byte order of the keys.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

using JsonValue = nlohmann::json;

// The compact form: no white space at all.
std::string json_text(const JsonValue& value);

// The pretty form: two spaces per level, "{}" and "[]" for empties.
std::string json_pretty(const JsonValue& value);

// Exactly one JSON text, white space around it allowed, nested at most 128
// deep, strings in valid UTF-8; null for anything else.
JsonValue body_json(std::string_view bytes);

// The member `key` of an object; null for a missing member or a value that
// is not an object. Never throws.
const JsonValue& json_member(const JsonValue& value, std::string_view key);

// The string held by `value`, else `fallback`.
std::string json_string_or(const JsonValue& value, std::string_view fallback);

// Any JSON number as a double, else `fallback`.
double json_number_or(const JsonValue& value, double fallback);

// An integer JSON number that fits a signed 64-bit integer.
std::optional<std::int64_t> json_int64(const JsonValue& value);

// The shortest text that reads back as the same double; integral values of
// everyday size keep a fraction ("1280.0").
std::string float_text(double value);

// A number rounded to a whole number, halves to even ("{:.0}").
std::string whole_number_text(double value);
