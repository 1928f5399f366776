#pragma once
// JSON values and their two text forms. Objects keep their members in
// ascending byte order of the keys.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

using JsonValue = nlohmann::json;

// The compact form: no white space at all.
std::string json_text(const JsonValue& value);

// The pretty form: two spaces per level, "{}" and "[]" for empties.
std::string json_pretty(const JsonValue& value);

// Exactly one JSON text, white space around it allowed, nested at most 128
// deep, strings in valid UTF-8; null for anything else.
JsonValue body_json(std::string_view bytes);

// Builds a value from the JSON library's parse events, as the library's own
// parser builds it (a repeated member keeps its last value), and stops the
// parse at nesting deeper than 128 levels and at a number that is not finite:
// every check made once per event, so reading takes time in proportion to the
// text. The parse succeeded when the library's sax_parse returns true; the
// value is then `root`.
class JsonBuilder : public nlohmann::json_sax<JsonValue> {
public:
    static constexpr std::size_t max_depth = 128;
    JsonValue root;

    bool null() override;
    bool boolean(bool value) override;
    bool number_integer(number_integer_t value) override;
    bool number_unsigned(number_unsigned_t value) override;
    bool number_float(number_float_t value, const string_t& text) override;
    bool string(string_t& value) override;
    bool binary(binary_t& value) override;
    bool start_object(std::size_t elements) override;
    bool key(string_t& name) override;
    bool end_object() override;
    bool start_array(std::size_t elements) override;
    bool end_array() override;
    bool parse_error(std::size_t position, const std::string& token, const JsonValue::exception& error) override;

protected:
    // Whether the next value is the member `name` of the outermost object.
    bool at_top_member(std::string_view name) const;

private:
    JsonValue* add(JsonValue value);
    bool open(JsonValue value);

    std::vector<JsonValue*> open_;  // the arrays and objects being filled, outermost first
    std::string member_name_;       // the name of the member whose value comes next
};

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
