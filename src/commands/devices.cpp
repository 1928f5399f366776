// devices: every eye the app can see.
#include "cli/options.h"
#include "cli/output.h"
#include "client/endpoints.h"
#include "client/text.h"
#include "commands/commands.h"

void run_devices() {
    JsonValue reply = or_fail(api_json(app_link(), devices_request()));
    if (print_json_if_asked(reply)) return;
    const JsonValue& devices = json_member(reply, "devices");
    if (!devices.is_array() || devices.empty()) {
        print("no cameras found \u2014 plug one in; any UVC webcam works\n");
        return;
    }
    for (const JsonValue& device : devices) {
        const JsonValue& focusable = json_member(device, "focusable");
        bool can_focus = focusable.is_boolean() && focusable.get<bool>();
        print("  " + pad_left(json_string_or(json_member(device, "id"), "?"), 3) + "  " +
              pad_right(json_string_or(json_member(device, "name"), "?"), 34) + " " +
              (can_focus ? "focusable" : "fixed focus") + "\n");
    }
}
