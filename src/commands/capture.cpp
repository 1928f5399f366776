// snap and screenshot, and the saving routines every capture command shares.
#include "cli/fail.h"
#include "cli/options.h"
#include "client/api.h"
#include "commands/commands.h"
#include "platform/system.h"

SavedFile save_output(const BodyBytes& data, std::string_view default_name) {
    std::string path = option_value("out").value_or(std::string(default_name));
    if (auto error = write_file(path, body_pieces(data))) fail("cannot write " + path + ": " + error->text);
    return SavedFile{path, data.size};
}

SavedFile capture_frame() {
    std::string path = "/frame.jpg?_=" + device_query();
    path += size_query();
    HttpReply reply = api_get(path);
    require_success(reply, "could not take a photo");
    return save_output(reply.body, "vistrel.jpg");
}

JsonValue saved_json(const SavedFile& saved) {
    JsonValue object = JsonValue::object();
    object["bytes"] = saved.bytes;
    object["path"] = saved.path;
    return object;
}

void report_saved(const SavedFile& saved) {
    if (has_flag("json")) {
        print(json_text(saved_json(saved)) + "\n");
    } else {
        print(saved.path + "  " + std::to_string(saved.bytes) + " bytes\n");
    }
}

void run_snap() {
    report_saved(capture_frame());
}

void run_screenshot() {
    HttpReply reply = api_get("/frame.jpg?device=screen" + size_query());
    require_success(reply, "could not capture the screen");
    report_saved(save_output(reply.body, "screen.jpg"));
}
