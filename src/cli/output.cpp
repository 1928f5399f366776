#include "cli/output.h"

#include <string>

#include "cli/options.h"
#include "platform/system.h"

namespace {
std::string pending_output;

std::optional<IoError> flush_output() {
    if (pending_output.empty()) return std::nullopt;
    auto error = write_stream(Stream::out, pending_output);
    pending_output.clear();
    return error;
}
}  // namespace

void print(std::string_view text) {
    pending_output += text;
}

void print_error(std::string_view text) {
    (void)write_stream(Stream::err, text);
}

void fail(std::string_view message) {
    std::string line = "error: ";
    line += message;
    line += '\n';
    print_error(line);
    (void)flush_output();
    exit_process(1);
}

void finish(int status) {
    if (auto error = flush_output()) {
        print_error("error: cannot write to standard output: " + error->text + "\n");
        exit_process(1);
    }
    exit_process(status);
}

void print_json(const JsonValue& value) {
    print(json_pretty(value) + "\n");
}

bool print_json_if_asked(const JsonValue& reply) {
    if (!has_flag("json")) return false;
    print_json(reply);
    return true;
}
