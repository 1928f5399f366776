// record: the app records the screen and answers with the finished video.
#include "cli/options.h"
#include "cli/output.h"
#include "commands/commands.h"

std::optional<std::uint32_t> parse_seconds(std::string_view text) {
    if (text.substr(0, 1) == "+") text.remove_prefix(1);
    if (text.empty()) return std::nullopt;
    std::uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<std::uint64_t>(c - '0');
        if (value > UINT32_MAX) return std::nullopt;
    }
    return static_cast<std::uint32_t>(value);
}

void run_record() {
    std::optional<std::uint32_t> seconds;
    if (std::optional<std::string> secs = option_value("secs")) {
        seconds = parse_seconds(*secs);
        if (!seconds) fail("--secs wants a whole number of seconds");
    }
    std::optional<std::string> format = option_value("format");
    // The name follows the option text, never what the app sent back.
    std::string path = output_path(format == "mp4" ? "screen.mp4" : "screen.webm");
    // Opened before the app records, so that an output that cannot be written
    // fails at once rather than after the whole recording.
    OutputFile output = or_fail(open_output(path));
    report_saved(or_fail(save_reply(app_link(), record_request(format, seconds), std::move(output))));
}
