// record and recording: the app records the screen; the video goes to a new
// file and the model gets its path and a link, never the video inline, and,
// when asked, a sheet of frames from it. A recording longer than a client
// waits for a call starts and the call returns at once; the recording tool
// waits for it to be saved, or ends it early.
#include <ctime>
#include <memory>

#include "mcp/recording_desk.h"
#include "mcp/saved_files.h"
#include "mcp/schema_check.h"
#include "mcp/tool_results.h"
#include "mcp/tools.h"

namespace {
using Clock = std::chrono::steady_clock;

// The local time of day `seconds` from now, "14:03:12".
std::string clock_time_in(double seconds) {
    std::time_t at = std::time(nullptr) + static_cast<std::time_t>(seconds + 0.5);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &at);
#else
    localtime_r(&at, &local);
#endif
    char text[16];
    std::strftime(text, sizeof text, "%H:%M:%S", &local);
    return text;
}

std::string seconds_text(double seconds) {
    return whole_number_text(seconds < 0 ? 0 : seconds) + " s";
}

// The sheet of frames the app made of the recording, inline, or a line that
// says why there is none. The recording is kept whatever becomes of it.
void add_preview(AppApi& app, ExchangeStop& stop, const ImageBudget& budget, const ReplyHeaders& headers,
                 JsonValue& content, std::string& text) {
    std::optional<std::string> id = header_value(headers, "X-Vistrel-Preview");
    if (!id) {
        text += "\nno preview is available: this Vistrel app makes none";
        return;
    }
    StringSink sheet;
    Result<std::uint64_t> fetched = app.preview(stop, *id, sheet);
    if (!fetched) {
        text += "\nno preview is available: " + fetched.error().message;
        return;
    }
    std::optional<PictureSize> size = jpeg_size(sheet.bytes);
    if (!size) {
        text += "\nno preview is available: the app's answer is not a JPEG picture";
    } else if (!fits_budget(budget, *size, sheet.bytes.size())) {
        text += "\nno preview is shown: the app's sheet is too large to show inline";
    } else {
        text += "\npreview: " + std::to_string(size->width) + "x" + std::to_string(size->height) +
                " sheet of frames taken at even times, each with its time";
        content.push_back(jpeg_content(sheet.bytes));
    }
}

// Runs one recording into `video` and gives the tool's result: the file's
// path, size and length, a link to it and, when asked, the preview.
JsonValue record_into(AppApi& app, ExchangeStop& stop, const ToolSettings& settings, const RecordRequest& request,
                      NewFileSink& video, const std::function<bool()>& cancelled,
                      const std::function<bool()>& ended_early) {
    Clock::time_point started = Clock::now();
    ReplyHeaders headers;
    Result<std::uint64_t> received = app.record(stop, request, video, &headers);
    if (!received) return error_result(received.error().message);
    if (cancelled()) return error_result("cancelled");
    Result<SavedFile> stored = video.finish();
    if (!stored) return error_result(stored.error().message);
    const SavedFile& file = stored.value();
    std::string what = "screen recording (" + request.format + ")";
    std::string length = std::to_string(request.secs) + "-second ";
    if (ended_early()) {
        length.clear();
        what +=
            ", ended early after about " + seconds_text(std::chrono::duration<double>(Clock::now() - started).count());
    }
    std::string text = "saved a " + length + what + " of " + std::to_string(file.bytes) + " bytes to " + file.path;
    JsonValue content = JsonValue::array();
    content.push_back(nullptr);  // the text, once it is complete
    content.push_back(file_link_content(file.path, file.bytes, "video/" + request.format, length + what));
    if (request.preview > 0) add_preview(app, stop, settings.budget, headers, content, text);
    content[0] = text_content(std::move(text));
    return tool_result(std::move(content));
}
}  // namespace

JsonValue run_record(const JsonValue& arguments, ToolContext& context) {
    // The defaults travel explicitly, so that the length is known for the
    // progress reports and the file's extension matches its container.
    RecordRequest request;
    request.secs = static_cast<std::uint32_t>(whole_number(json_member(arguments, "secs")).value_or(5));
    request.format = string_argument(arguments, "format").value_or("webm");
    request.preview = static_cast<std::uint32_t>(whole_number(json_member(arguments, "preview")).value_or(0));
    std::optional<std::string> path = string_argument(arguments, "path");
    // The video goes to its file as it arrives, never whole into memory. A
    // video that does not arrive whole, or that nobody waits for any more,
    // leaves no file: the sink removes it when it is not finished.
    auto video = std::make_shared<NewFileSink>(
        path ? exact_path(*path) : fresh_name(context.settings.folder, "vistrel-screen", request.format));
    if (request.secs <= context.settings.longest_waited_recording) {
        context.call.expect_duration(request.secs);
        return record_into(
            context.app, context.stop(), context.settings, request, *video, [&] { return context.call.cancelled(); },
            [] { return false; });
    }

    // Too long to wait for: the file is named now and the recording runs on.
    Result<std::string> named = video->create_now();
    if (!named) return error_result(named.error().message);
    std::string file = named.value();
    AppApi& app = context.app;
    const ToolSettings& settings = context.settings;
    RecordingDesk& desk = context.recordings;
    auto job = [&app, &settings, &desk, request, video](ExchangeStop& stop) {
        return record_into(
            app, stop, settings, request, *video, [] { return false; }, [&desk] { return desk.ended_early(); });
    };
    Clock::time_point ends = Clock::now() + std::chrono::seconds(request.secs);
    if (!context.recordings.start(job, file, ends)) {
        return error_result(
            "a screen recording started by record is still running; the recording tool waits for "
            "it or ends it");
    }
    // A refusal (no screen, a recording already running) comes at once.
    if (std::optional<JsonValue> refused =
            context.recordings.collect(std::chrono::milliseconds(1000), [] { return false; })) {
        return *refused;
    }
    double left = std::chrono::duration<double>(ends - Clock::now()).count();
    std::string text = "recording " + std::to_string(request.secs) + " s of the screen (" + request.format + ") to " +
                       file + "; it will be saved at about " + clock_time_in(left) + " (in " + seconds_text(left) +
                       "). Call recording to wait for it, or to stop it early.";
    return tool_result(JsonValue::array({text_content(std::move(text))}));
}

JsonValue run_recording(const JsonValue& arguments, ToolContext& context) {
    std::optional<RecordingDesk::Held> held = context.recordings.held();
    auto give_up = [&] { return context.call.cancelled(); };
    if (json_member(arguments, "stop") == true) {
        // The app ends its running recording, whoever started it; the
        // recording's own call then answers with what was recorded. That
        // answer may come before the stop's own: it is told first.
        if (held && held->running) context.recordings.mark_ended_early(true);
        Result<JsonValue> stopped = context.app.stop_recording(context.stop());
        if (!held || !held->running) {
            if (!stopped) return error_result(stopped.error().message);
            return tool_result(JsonValue::array({text_content("stopped the screen recording")}));
        }
        if (!stopped) {
            context.recordings.mark_ended_early(false);
            // It may have ended meanwhile; else this app cannot end one early.
            if (auto result = context.recordings.collect(std::chrono::milliseconds(1000), give_up)) return *result;
            context.recordings.abandon();
            context.recordings.collect(std::chrono::milliseconds(5000), give_up);
            return error_result("could not end the recording early (" + stopped.error().message +
                                "), so it was cut off and no file was kept");
        }
    }
    if (!held) return tool_result(JsonValue::array({text_content("no recording started by record is waiting")}));
    if (auto result = context.recordings.collect(context.settings.recording_wait, give_up)) return *result;
    double left = std::chrono::duration<double>(held->ends - Clock::now()).count();
    std::string text = "still recording to " + held->path + "; it will be saved at about " + clock_time_in(left) +
                       " (in " + seconds_text(left) + "). Call recording again to wait for it.";
    return tool_result(JsonValue::array({text_content(std::move(text))}));
}
