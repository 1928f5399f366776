// add-source, sources and forget-source: the app's phones and IP cameras.
#include "cli/options.h"
#include "cli/output.h"
#include "client/endpoints.h"
#include "client/text.h"
#include "commands/commands.h"

void run_add_source() {
    if (positionals().size() < 3) {
        fail("usage: vistrel add-source <name> <url>\n"
             "  e.g. vistrel add-source phone http://192.168.1.50:8080/shot.jpg");
    }
    JsonValue reply = or_fail(api_json(app_link(), add_source_request(positional(1), positional(2))));
    if (print_json_if_asked(reply)) return;
    const JsonValue& added = json_member(reply, "added");
    print("added " + json_text(added) + " \u2014 use it with --device net:" + json_string_or(added, "?") + "\n");
}

static void print_sources(const JsonValue& reply) {
    if (print_json_if_asked(reply)) return;
    const JsonValue& sources = json_member(reply, "sources");
    if (!sources.is_array() || sources.empty()) {
        print("no phone / IP cameras registered\n"
              "  add one: vistrel add-source phone http://<phone-ip>:8080/shot.jpg\n");
        return;
    }
    for (const JsonValue& source : sources) {
        print("  net:" + pad_right(json_string_or(json_member(source, "name"), "?"), 16) + " " +
              json_string_or(json_member(source, "url"), "?") + "\n");
    }
}

void run_sources() {
    print_sources(or_fail(api_json(app_link(), sources_request())));
}

void run_forget_source() {
    if (positionals().size() < 2) fail("usage: vistrel forget-source <name>");
    JsonValue reply = or_fail(api_json(app_link(), remove_source_request(positional(1))));
    if (print_json_if_asked(reply)) return;
    print("removed " + json_text(json_member(reply, "removed")) + "\n");
}
