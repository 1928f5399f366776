// status: is the app running, and what is it set to.
#include "cli/fail.h"
#include "cli/options.h"
#include "client/api.h"
#include "commands/commands.h"

void run_status() {
    JsonValue reply = reply_json(api_get("/health"));
    if (print_json_if_asked(reply)) return;
    const JsonValue& settings = json_member(reply, "settings");
    std::string device = json_string_or(json_member(settings, "device"), "");
    if (device.empty()) device = "(best available)";
    print("vistrel " + json_text(json_member(reply, "version")) + " on port " + json_text(json_member(reply, "port")) +
          "\n  camera  " + device + "\n  size    " + json_text(json_member(settings, "width")) + "x" +
          json_text(json_member(settings, "height")) + "\n");
}
