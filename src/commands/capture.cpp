// snap and screenshot, and the routines every saving command shares.
#include "cli/options.h"
#include "cli/output.h"
#include "commands/commands.h"

SavedFile capture_frame() {
    std::string device = device_query();
    ApiRequest request = frame_request(device, size_query());
    return or_fail(save_reply(app_link(), request, output_path("vistrel.jpg")));
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
    ApiRequest request = screen_request(size_query());
    report_saved(or_fail(save_reply(app_link(), request, output_path("screen.jpg"))));
}
