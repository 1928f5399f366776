// The JSON reader and both text forms: whatever the reader accepts, the
// compact and the pretty form write as text that reads back as the same
// value; the two forms differ only in white space between tokens; the
// compact form is a fixed point and holds no raw control byte.
#include <cstdint>
#include <string>
#include <string_view>

#include "check.h"
#include "client/json.h"
#include "client/text.h"

namespace {
// The text without the white space that stands between tokens; white space
// inside strings stays.
std::string without_token_space(std::string_view text) {
    std::string out;
    bool in_string = false;
    bool escaped = false;
    for (char c : text) {
        if (in_string) {
            out += c;
            if (escaped) {
                escaped = false;
            } else if (c == '\\') {
                escaped = true;
            } else if (c == '"') {
                in_string = false;
            }
            continue;
        }
        if (c == ' ' || c == '\n' || c == '\t' || c == '\r') continue;
        if (c == '"') in_string = true;
        out += c;
    }
    return out;
}

bool has_control_byte(std::string_view text) {
    for (char c : text) {
        if (static_cast<unsigned char>(c) < 0x20) return true;
    }
    return false;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    JsonValue value = body_json(bytes);
    FUZZ_CHECK(!value.is_discarded(), "the reader handed out a discarded value");

    std::string compact = json_text(value);
    std::string pretty = json_pretty(value);
    FUZZ_CHECK(is_valid_utf8(compact), "the compact form is not UTF-8");
    FUZZ_CHECK(!has_control_byte(compact), "the compact form holds a raw control byte");
    FUZZ_CHECK(without_token_space(pretty) == compact, "the two forms differ in more than white space");

    JsonValue from_compact = body_json(compact);
    JsonValue from_pretty = body_json(pretty);
    FUZZ_CHECK(from_compact == value, "the compact form reads back as another value");
    FUZZ_CHECK(from_pretty == value, "the pretty form reads back as another value");
    FUZZ_CHECK(json_text(from_compact) == compact, "the compact form is not a fixed point");
    FUZZ_CHECK(json_pretty(from_pretty) == pretty, "the pretty form is not a fixed point");
    return 0;
}
