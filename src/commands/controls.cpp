// controls and set: the camera's knobs.
#include "cli/options.h"
#include "cli/output.h"
#include "client/endpoints.h"
#include "client/text.h"
#include "commands/commands.h"

std::optional<std::int64_t> parse_whole_number(std::string_view text) {
    if (text.empty() || text == "+" || text == "-") return std::nullopt;
    bool negative = text.front() == '-';
    if (text.front() == '+' || text.front() == '-') text.remove_prefix(1);
    // Gathered as a magnitude, so that the lowest value fits as well.
    const std::uint64_t limit = negative ? std::uint64_t(INT64_MAX) + 1 : std::uint64_t(INT64_MAX);
    std::uint64_t magnitude = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        auto digit = static_cast<std::uint64_t>(c - '0');
        if (magnitude > (limit - digit) / 10) return std::nullopt;
        magnitude = magnitude * 10 + digit;
    }
    if (!negative) return static_cast<std::int64_t>(magnitude);
    return magnitude == 0 ? 0 : -static_cast<std::int64_t>(magnitude - 1) - 1;
}

void run_controls() {
    JsonValue reply = or_fail(api_json(app_link(), controls_request(device_query())));
    if (print_json_if_asked(reply)) return;
    const JsonValue& controls = json_member(reply, "controls");
    if (!controls.is_array()) return;
    for (const JsonValue& control : controls) {
        print("  " + pad_right(json_string_or(json_member(control, "name"), "?"), 14) + " " +
              json_text(json_member(control, "min")) + ".." + json_text(json_member(control, "max")) + "  now " +
              json_text(json_member(control, "value")) + "\n");
    }
}

void run_set() {
    if (positionals().size() < 3) fail("usage: vistrel set <name> <value>   e.g. vistrel set focus 60");
    std::optional<std::int64_t> value = parse_whole_number(positional(2));
    if (!value) fail("value must be a whole number");
    ApiRequest request = set_control_request(option_value("device"), positional(1), *value);
    JsonValue reply = or_fail(api_json(app_link(), request));
    if (print_json_if_asked(reply)) return;
    print(json_text(json_member(reply, "control")) + " = " + json_text(json_member(reply, "value")) + " (was " +
          json_text(json_member(reply, "was")) + ")\n");
}
