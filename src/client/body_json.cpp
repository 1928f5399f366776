#include "client/json.h"

#include <cmath>
#include <cstring>

JsonValue* JsonBuilder::add(JsonValue value) {
    if (open_.empty()) {
        root = std::move(value);
        return &root;
    }
    JsonValue& parent = *open_.back();
    if (parent.is_array()) {
        parent.push_back(std::move(value));
        return &parent.back();
    }
    JsonValue& member = parent[member_name_];
    member = std::move(value);
    return &member;
}

bool JsonBuilder::open(JsonValue value) {
    if (open_.size() >= max_depth) return false;
    open_.push_back(add(std::move(value)));
    return true;
}

bool JsonBuilder::at_top_member(std::string_view name) const {
    return open_.size() == 1 && open_.back() == &root && member_name_ == name;
}

bool JsonBuilder::null() {
    return add(nullptr), true;
}
bool JsonBuilder::boolean(bool value) {
    return add(value), true;
}
bool JsonBuilder::number_integer(number_integer_t value) {
    return add(value), true;
}
bool JsonBuilder::number_unsigned(number_unsigned_t value) {
    return add(value), true;
}
bool JsonBuilder::number_float(number_float_t value, const string_t&) {
    if (!std::isfinite(value)) return false;
    return add(value), true;
}
bool JsonBuilder::string(string_t& value) {
    return add(std::move(value)), true;
}
bool JsonBuilder::binary(binary_t&) {
    return false;  // JSON text has none
}
bool JsonBuilder::start_object(std::size_t) {
    return open(JsonValue::object());
}
bool JsonBuilder::key(string_t& name) {
    member_name_ = std::move(name);
    return true;
}
bool JsonBuilder::end_object() {
    return open_.pop_back(), true;
}
bool JsonBuilder::start_array(std::size_t) {
    return open(JsonValue::array());
}
bool JsonBuilder::end_array() {
    return open_.pop_back(), true;
}
bool JsonBuilder::parse_error(std::size_t, const std::string&, const JsonValue::exception&) {
    return false;
}

JsonValue body_json(std::string_view bytes) {
    // The library would take a NUL byte as the end of the text and skip a
    // byte order mark; neither belongs in a JSON text.
    if (bytes.empty() || std::memchr(bytes.data(), '\0', bytes.size()) != nullptr) return nullptr;
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") return nullptr;
    JsonBuilder builder;
    if (!JsonValue::sax_parse(bytes.begin(), bytes.end(), &builder, nlohmann::json::input_format_t::json, true)) {
        return nullptr;
    }
    return std::move(builder.root);
}
