// focus and look: the app sweeps the lens and locks the sharpest position.
#include <algorithm>

#include "cli/options.h"
#include "cli/output.h"
#include "client/endpoints.h"
#include "client/text.h"
#include "commands/commands.h"

namespace {
constexpr int full_bar = 46;

JsonValue focus_sweep() {
    return or_fail(api_json(app_link(), focus_request(option_value("device"))));
}

// Samples sort by their lens position when it is a signed 64-bit integer, else as 0.
std::int64_t sort_key(const JsonValue& sample) {
    return json_int64(json_member(sample, "focus")).value_or(0);
}
}  // namespace

std::string focus_chart(const JsonValue& reply) {
    const JsonValue& sweep = json_member(reply, "sweep");
    const JsonValue& samples_value = json_member(sweep, "samples");
    std::vector<const JsonValue*> samples;
    if (samples_value.is_array()) {
        for (const JsonValue& sample : samples_value) samples.push_back(&sample);
    }
    // Never below 1.0, so that sharpness under 1 is drawn to an absolute scale.
    double scale = 1.0;
    for (const JsonValue* sample : samples) {
        const JsonValue& sharpness = json_member(*sample, "sharpness");
        if (sharpness.is_number()) scale = std::max(scale, sharpness.get<double>());
    }
    std::string out = "locked focus " + json_text(json_member(sweep, "focus")) + " \u00b7 sharpness " +
                      whole_number_text(json_number_or(json_member(sweep, "sharpness"), 0)) + " \u00b7 " +
                      std::to_string(samples.size()) + " samples\n";
    std::stable_sort(samples.begin(), samples.end(),
                     [](const JsonValue* a, const JsonValue* b) { return sort_key(*a) < sort_key(*b); });
    for (const JsonValue* sample : samples) {
        double bar = json_number_or(json_member(*sample, "sharpness"), 0) / scale * full_bar;
        std::size_t length = bar > 0 ? static_cast<std::size_t>(bar) : 0;
        out += "  " + pad_left(json_text(json_member(*sample, "focus")), 5) + " " + std::string(length, '#') + "\n";
    }
    return out;
}

void run_focus() {
    JsonValue reply = focus_sweep();
    if (print_json_if_asked(reply)) return;
    print(focus_chart(reply));
}

void run_look() {
    JsonValue reply = focus_sweep();
    SavedFile saved = capture_frame();
    const JsonValue& sweep = json_member(reply, "sweep");
    if (has_flag("json")) {
        JsonValue result = saved_json(saved);
        result["sweep"] = sweep;
        print(json_text(result) + "\n");
        return;
    }
    print("focus " + json_text(json_member(sweep, "focus")) + " (sharpness " +
          whole_number_text(json_number_or(json_member(sweep, "sharpness"), 0)) + ")\n");
    report_saved(saved);
}
