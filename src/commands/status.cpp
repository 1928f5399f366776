// status: is the app running, and what is it set to.
#include "cli/options.h"
#include "cli/output.h"
#include "client/endpoints.h"
#include "commands/commands.h"

void run_status() {
    JsonValue reply = or_fail(api_json(app_link(), health_request()));
    if (print_json_if_asked(reply)) return;
    const JsonValue& settings = json_member(reply, "settings");
    std::string device = json_string_or(json_member(settings, "device"), "");
    if (device.empty()) device = "(best available)";
    print("vistrel " + json_text(json_member(reply, "version")) + " on port " + json_text(json_member(reply, "port")) +
          "\n  camera  " + device + "\n  size    " + json_text(json_member(settings, "width")) + "x" +
          json_text(json_member(settings, "height")) + "\n");
}
