// devices: every eye the app can see.
#include "cli/fail.h"
#include "cli/options.h"
#include "cli/text.h"
#include "client/api.h"
#include "commands/commands.h"

void run_devices() {
    JsonValue reply = reply_json(api_get("/devices"));
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
