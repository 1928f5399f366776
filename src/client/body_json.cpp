#include "client/json.h"

#include <cmath>
#include <cstring>

namespace {
// Builds the value like the library's own parser, but refuses nesting deeper
// than 128 levels and numbers too large for a double.
struct LimitedParser : nlohmann::detail::json_sax_dom_parser<JsonValue> {
    using Base = nlohmann::detail::json_sax_dom_parser<JsonValue>;
    static constexpr std::size_t max_depth = 128;
    std::size_t depth = 0;

    explicit LimitedParser(JsonValue& result) : Base(result, false) {}

    bool start_object(std::size_t size) { return ++depth <= max_depth && Base::start_object(size); }
    bool end_object() {
        --depth;
        return Base::end_object();
    }
    bool start_array(std::size_t size) { return ++depth <= max_depth && Base::start_array(size); }
    bool end_array() {
        --depth;
        return Base::end_array();
    }
    bool number_float(double value, const std::string& text) {
        return std::isfinite(value) && Base::number_float(value, text);
    }
};
}  // namespace

JsonValue body_json(std::string_view bytes) {
    // The library would take a NUL byte as the end of the text and skip a
    // byte order mark; neither belongs in a JSON text.
    if (bytes.empty() || std::memchr(bytes.data(), '\0', bytes.size()) != nullptr) return nullptr;
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") return nullptr;
    JsonValue result;
    LimitedParser parser(result);
    bool valid = JsonValue::sax_parse(bytes.begin(), bytes.end(), &parser, nlohmann::detail::input_format_t::json, true);
    if (!valid || parser.is_errored()) return nullptr;
    return result;
}
