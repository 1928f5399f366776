// devices, windows, controls, set_control, status, sources, add_source and
// forget_source: a line of text for the model and the same facts as
// structured content, read from the app's reply as leniently as vistrel reads it.
#include "client/text.h"
#include "mcp/schema_check.h"
#include "mcp/tool_results.h"
#include "mcp/tools.h"

namespace {
// The entries of the list member `key`; none when it is not an array.
const JsonValue& list_member(const JsonValue& reply, const char* key) {
    static const JsonValue empty = JsonValue::array();
    const JsonValue& list = json_member(reply, key);
    return list.is_array() ? list : empty;
}

JsonValue lines_result(const std::string& text, JsonValue structured) {
    return tool_result(JsonValue::array({text_content(text)}), std::move(structured));
}
}  // namespace

JsonValue run_devices(const JsonValue&, ToolContext& context) {
    Result<JsonValue> answer = context.app.devices(context.stop());
    if (!answer) return error_result(answer.error().message);
    context.sizes.learn_list(answer.value());
    JsonValue devices = JsonValue::array();
    std::string text;
    for (const JsonValue& device : list_member(answer.value(), "devices")) {
        const JsonValue& focusable = json_member(device, "focusable");
        bool can_focus = focusable.is_boolean() && focusable.get<bool>();
        devices.push_back({{"id", string_or_null(json_member(device, "id"))},
                           {"name", string_or_null(json_member(device, "name"))},
                           {"focusable", can_focus}});
        text += json_string_or(json_member(device, "id"), "?") + "  " +
                json_string_or(json_member(device, "name"), "?") +
                (can_focus ? "  (focusable)\n" : "  (fixed focus)\n");
    }
    if (devices.empty()) text = "no cameras found \u2014 plug one in; any UVC webcam works\n";
    text.pop_back();
    return lines_result(text, {{"devices", std::move(devices)}});
}

JsonValue run_windows(const JsonValue&, ToolContext& context) {
    Result<JsonValue> answer = context.app.windows(context.stop());
    if (!answer) return error_result(answer.error().message);
    JsonValue windows = JsonValue::array();
    std::string text;
    for (const JsonValue& window : list_member(answer.value(), "windows")) {
        const JsonValue& focused = json_member(window, "focused");
        bool is_focused = focused.is_boolean() && focused.get<bool>();
        JsonValue entry = {{"id", string_or_null(json_member(window, "id"))},
                           {"title", string_or_null(json_member(window, "title"))},
                           {"program", string_or_null(json_member(window, "program"))},
                           {"monitor", integer_or_null(json_member(window, "monitor"))},
                           {"focused", is_focused}};
        for (const char* key : {"x", "y", "width", "height"}) entry[key] = integer_or_null(json_member(window, key));
        text += json_string_or(entry["id"], "?") + "  " + json_text(entry["title"]) + "  " +
                json_string_or(entry["program"], "?") + "  " + json_text(entry["width"]) + "x" +
                json_text(entry["height"]) + " at " + json_text(entry["x"]) + "," + json_text(entry["y"]) +
                (entry["monitor"].is_null() ? "" : " on monitor " + json_text(entry["monitor"])) +
                (is_focused ? "  (focused)\n" : "\n");
        windows.push_back(std::move(entry));
    }
    if (windows.empty()) text = "no windows\n";
    text.pop_back();
    return lines_result(text, {{"windows", std::move(windows)}});
}

JsonValue run_controls(const JsonValue& arguments, ToolContext& context) {
    Result<JsonValue> answer = context.app.controls(context.stop(), string_argument(arguments, "device"));
    if (!answer) return error_result(answer.error().message);
    JsonValue controls = JsonValue::array();
    std::string text;
    for (const JsonValue& control : list_member(answer.value(), "controls")) {
        controls.push_back({{"name", string_or_null(json_member(control, "name"))},
                            {"min", number_or_null(json_member(control, "min"))},
                            {"max", number_or_null(json_member(control, "max"))},
                            {"value", number_or_null(json_member(control, "value"))}});
        text += json_string_or(json_member(control, "name"), "?") + " " + json_text(json_member(control, "min")) +
                ".." + json_text(json_member(control, "max")) + " now " + json_text(json_member(control, "value")) +
                "\n";
    }
    if (controls.empty()) text = "this device has no controls\n";
    text.pop_back();
    return lines_result(text, {{"controls", std::move(controls)}});
}

JsonValue run_set_control(const JsonValue& arguments, ToolContext& context) {
    std::string name = json_member(arguments, "name").get<std::string>();
    std::int64_t value = *whole_number(json_member(arguments, "value"));
    Result<JsonValue> answer =
        context.app.set_control(context.stop(), string_argument(arguments, "device"), name, value);
    if (!answer) return error_result(answer.error().message);
    const JsonValue& reply = answer.value();
    std::string text = json_string_or(json_member(reply, "control"), "?") + " is now " +
                       json_text(json_member(reply, "value")) + " (was " + json_text(json_member(reply, "was")) + ")";
    return lines_result(text, {{"control", string_or_null(json_member(reply, "control"))},
                               {"value", number_or_null(json_member(reply, "value"))},
                               {"was", number_or_null(json_member(reply, "was"))}});
}

JsonValue run_status(const JsonValue&, ToolContext& context) {
    Result<JsonValue> answer = context.app.health(context.stop());
    if (!answer) return error_result(answer.error().message);
    const JsonValue& reply = answer.value();
    const JsonValue& settings = json_member(reply, "settings");
    JsonValue device = string_or_null(json_member(settings, "device"));
    if (device == "") device = nullptr;
    std::string text = "the Vistrel app " + json_string_or(json_member(reply, "version"), "?") +
                       " is running on port " + json_text(json_member(reply, "port")) + "\ncamera " +
                       (device.is_string() ? device.get<std::string>() : "(best available)") + ", size " +
                       json_text(json_member(settings, "width")) + "x" + json_text(json_member(settings, "height"));
    return lines_result(text, {{"version", string_or_null(json_member(reply, "version"))},
                               {"port", integer_or_null(json_member(reply, "port"))},
                               {"device", device},
                               {"width", integer_or_null(json_member(settings, "width"))},
                               {"height", integer_or_null(json_member(settings, "height"))}});
}

JsonValue run_sources(const JsonValue&, ToolContext& context) {
    Result<JsonValue> answer = context.app.sources(context.stop());
    if (!answer) return error_result(answer.error().message);
    JsonValue sources = JsonValue::array();
    std::string text;
    for (const JsonValue& source : list_member(answer.value(), "sources")) {
        sources.push_back({{"name", string_or_null(json_member(source, "name"))},
                           {"url", string_or_null(json_member(source, "url"))}});
        text += "net:" + json_string_or(json_member(source, "name"), "?") + "  " +
                json_string_or(json_member(source, "url"), "?") + "\n";
    }
    if (sources.empty()) text = "no phone / IP cameras registered\n";
    text.pop_back();
    return lines_result(text, {{"sources", std::move(sources)}});
}

JsonValue run_add_source(const JsonValue& arguments, ToolContext& context) {
    Result<JsonValue> answer = context.app.add_source(context.stop(), json_member(arguments, "name").get<std::string>(),
                                                      json_member(arguments, "url").get<std::string>());
    if (!answer) return error_result(answer.error().message);
    const JsonValue& added = json_member(answer.value(), "added");
    std::string name = json_string_or(added, "?");
    return lines_result("added " + name + " \u2014 use it with the device net:" + name,
                        {{"added", string_or_null(added)}});
}

JsonValue run_forget_source(const JsonValue& arguments, ToolContext& context) {
    Result<JsonValue> answer =
        context.app.forget_source(context.stop(), json_member(arguments, "name").get<std::string>());
    if (!answer) return error_result(answer.error().message);
    const JsonValue& removed = json_member(answer.value(), "removed");
    return lines_result("removed " + json_string_or(removed, "?"), {{"removed", string_or_null(removed)}});
}
