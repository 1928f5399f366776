#include "client/json.h"

#include <cmath>
#include <cstring>

namespace {
constexpr int max_depth = 128;
}  // namespace

JsonValue body_json(std::string_view bytes) {
    // The library would take a NUL byte as the end of the text and skip a
    // byte order mark; neither belongs in a JSON text.
    if (bytes.empty() || std::memchr(bytes.data(), '\0', bytes.size()) != nullptr) return nullptr;
    if (bytes.substr(0, 3) == "\xEF\xBB\xBF") return nullptr;
    // The library's own parser, watched through its callback: nesting deeper
    // than 128 levels and numbers too large for a double make the text
    // invalid, as a syntax error does.
    bool refused = false;
    auto watch = [&refused](int depth, JsonValue::parse_event_t event, JsonValue& parsed) {
        using Event = JsonValue::parse_event_t;
        if ((event == Event::object_start || event == Event::array_start) && depth >= max_depth) refused = true;
        if (event == Event::value && parsed.is_number_float() && !std::isfinite(parsed.get<double>())) refused = true;
        return !refused;
    };
    JsonValue result = JsonValue::parse(bytes.begin(), bytes.end(), watch, /*allow_exceptions=*/false);
    if (refused || result.is_discarded()) return nullptr;
    return result;
}
