// look, snap, screenshot and focus: pictures inline, fitted to what a model
// takes, and the focus sweep.
#include <functional>

#include "mcp/saved_files.h"
#include "mcp/schema_check.h"
#include "mcp/tool_results.h"
#include "mcp/tools.h"

namespace {
using FetchPicture = std::function<Result<std::string>(const FrameSizeRequest&)>;

std::string size_text(PictureSize size) {
    return std::to_string(size.width) + "x" + std::to_string(size.height);
}

FrameSizeRequest asked_size(const JsonValue& arguments) {
    FrameSizeRequest size;
    size.width = whole_number(json_member(arguments, "width"));
    size.height = whole_number(json_member(arguments, "height"));
    return size;
}

const std::string not_a_jpeg = "the app's answer is not a JPEG picture";

// Asks for the picture at the size the caller gave, else at the device's own
// size; saves it when the caller named a path; and, unless a size was given,
// asks again at a fitting size while the picture is beyond the budget. A
// picture that still does not fit goes to a file instead of inline.
JsonValue picture_result(ToolContext& context, const JsonValue& arguments, const FetchPicture& fetch,
                         std::string lead, const char* file_stem) {
    FrameSizeRequest asked = asked_size(arguments);
    bool size_given = asked.width || asked.height;
    Result<std::string> answer = fetch(asked);
    if (!answer) return error_result(answer.error().message);
    std::string jpeg = std::move(answer).value();
    std::optional<PictureSize> size = jpeg_size(jpeg);
    if (!size) return error_result(not_a_jpeg);
    PictureSize full = *size;

    std::optional<SavedFile> saved;
    if (std::optional<std::string> path = string_argument(arguments, "path")) {
        Result<SavedFile> stored = store_new_file(*path, jpeg);
        if (!stored) return error_result(stored.error().message);
        saved = std::move(stored).value();
    }

    const ImageBudget& budget = context.settings.budget;
    // Three tries: the first smaller picture nearly always fits; one that is
    // still too heavy is asked for smaller again.
    for (int tries = 0; !size_given && !fits_budget(budget, *size, jpeg.size()) && tries < 3; ++tries) {
        if (context.call.cancelled()) return error_result("cancelled");
        PictureSize target = fitting_size(budget, *size, jpeg.size());
        Result<std::string> smaller = fetch({target.width, target.height});
        if (!smaller) return error_result(smaller.error().message);
        jpeg = std::move(smaller).value();
        size = jpeg_size(jpeg);
        if (!size) return error_result(not_a_jpeg);
    }

    std::string text = lead + size_text(*size) + " JPEG, " + std::to_string(jpeg.size()) + " bytes";
    if (!(*size == full)) text += " (scaled down from " + size_text(full) + " to fit)";
    if (saved) {
        text += "\nsaved the full picture (" + size_text(full) + ", " + std::to_string(saved->bytes) + " bytes) to " +
                saved->path;
    }
    if (size_given || fits_budget(budget, *size, jpeg.size())) {
        return tool_result(JsonValue::array({text_content(std::move(text)), jpeg_content(jpeg)}));
    }
    // The app gave no picture that fits: the model gets the file instead.
    if (!saved) {
        Result<SavedFile> stored = store_in_folder(context.settings.folder, file_stem, "jpg", jpeg);
        if (!stored) return error_result(stored.error().message);
        saved = std::move(stored).value();
    }
    text += "\nthe picture is too large to show inline; it is in " + saved->path;
    return tool_result(JsonValue::array({text_content(std::move(text)),
                                         file_link_content(saved->path, saved->bytes, "image/jpeg", "the picture")}));
}

FetchPicture camera_fetch(ToolContext& context, const JsonValue& arguments) {
    std::optional<std::string> device = string_argument(arguments, "device");
    return [&context, device](const FrameSizeRequest& size) { return context.app.frame(device, size); };
}

std::string focus_line(const JsonValue& sweep) {
    return "focus " + json_text(json_member(sweep, "focus")) + " (sharpness " +
           whole_number_text(json_number_or(json_member(sweep, "sharpness"), 0)) + ")";
}
}  // namespace

JsonValue run_snap(const JsonValue& arguments, ToolContext& context) {
    return picture_result(context, arguments, camera_fetch(context, arguments), "", "vistrel-photo");
}

JsonValue run_screenshot(const JsonValue& arguments, ToolContext& context) {
    FetchPicture fetch = [&context](const FrameSizeRequest& size) { return context.app.screenshot(size); };
    return picture_result(context, arguments, fetch, "", "vistrel-screen");
}

JsonValue run_look(const JsonValue& arguments, ToolContext& context) {
    Result<JsonValue> focused = context.app.focus(string_argument(arguments, "device"));
    if (!focused) return error_result(focused.error().message);
    std::string lead = focus_line(json_member(focused.value(), "sweep")) + "\n";
    return picture_result(context, arguments, camera_fetch(context, arguments), lead, "vistrel-photo");
}

JsonValue run_focus(const JsonValue& arguments, ToolContext& context) {
    Result<JsonValue> focused = context.app.focus(string_argument(arguments, "device"));
    if (!focused) return error_result(focused.error().message);
    const JsonValue& sweep = json_member(focused.value(), "sweep");
    JsonValue samples = JsonValue::array();
    const JsonValue& listed = json_member(sweep, "samples");
    if (listed.is_array()) {
        for (const JsonValue& sample : listed) {
            samples.push_back({{"focus", number_or_null(json_member(sample, "focus"))},
                               {"sharpness", number_or_null(json_member(sample, "sharpness"))}});
        }
    }
    std::string text = "locked focus " + json_text(json_member(sweep, "focus")) + " \u00b7 sharpness " +
                       whole_number_text(json_number_or(json_member(sweep, "sharpness"), 0)) + " \u00b7 " +
                       std::to_string(samples.size()) + " samples";
    JsonValue structured = {{"focus", number_or_null(json_member(sweep, "focus"))},
                            {"sharpness", number_or_null(json_member(sweep, "sharpness"))},
                            {"samples", std::move(samples)}};
    return tool_result(JsonValue::array({text_content(std::move(text))}), std::move(structured));
}
