#include "cli/dispatch.h"

#include <string_view>

#include "cli/options.h"
#include "cli/output.h"
#include "cli/usage.h"
#include "client/text.h"
#include "commands/commands.h"

namespace {
struct Command {
    std::string_view word;
    void (*run)();
};

constexpr Command commands[] = {
    {"snap", run_snap},
    {"screenshot", run_screenshot},
    {"focus", run_focus},
    {"look", run_look},
    {"record", run_record},
    {"status", run_status},
    {"devices", run_devices},
    {"controls", run_controls},
    {"set", run_set},
    {"add-source", run_add_source},
    {"sources", run_sources},
    {"forget-source", run_forget_source},
};

void print_usage() {
    print(usage_text);
    print("\n");
}
}  // namespace

void run_vistrel(std::vector<std::string> arguments) {
    // Every text the program handles is UTF-8; an argument that is not
    // Unicode text could name a file other than the one meant.
    for (std::size_t i = 1; i < arguments.size(); ++i) {
        if (!is_valid_utf8(arguments[i])) fail("argument " + std::to_string(i) + " is not valid Unicode text");
    }
    set_arguments(std::move(arguments));
    std::string word = positional(0);
    if (word.empty() || word == "help" || word == "-h") {
        print_usage();
        finish(0);
    }
    for (const Command& command : commands) {
        if (command.word == word) {
            command.run();
            finish(0);
        }
    }
    print_error("unknown command: " + word + "\n\n" + std::string(usage_text) + "\n");
    finish(1);
}
