// record: the app records the screen; the video goes to a new file and the
// model gets its path and a link, never the video inline.
#include "mcp/saved_files.h"
#include "mcp/schema_check.h"
#include "mcp/tool_results.h"
#include "mcp/tools.h"

JsonValue run_record(const JsonValue& arguments, ToolContext& context) {
    // The defaults travel explicitly, so that the length is known for the
    // progress reports and the file's extension matches its container.
    auto secs = static_cast<std::uint32_t>(whole_number(json_member(arguments, "secs")).value_or(5));
    std::string format = string_argument(arguments, "format").value_or("webm");
    context.call.expect_duration(secs);
    Result<std::string> video = context.app.record(secs, format);
    if (!video) return error_result(video.error().message);
    // Nobody is waiting for the video any more: no file is left behind.
    if (context.call.cancelled()) return error_result("cancelled");

    std::optional<std::string> path = string_argument(arguments, "path");
    Result<SavedFile> stored = path ? store_new_file(*path, video.value())
                                    : store_in_folder(context.settings.folder, "vistrel-screen", format, video.value());
    if (!stored) return error_result(stored.error().message);
    const SavedFile& file = stored.value();
    std::string what = std::to_string(secs) + "-second screen recording (" + format + ")";
    std::string text = "saved a " + what + " of " + std::to_string(file.bytes) + " bytes to " + file.path;
    return tool_result(JsonValue::array({text_content(std::move(text)),
                                         file_link_content(file.path, file.bytes, "video/" + format, what)}));
}
