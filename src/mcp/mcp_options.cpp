#include "mcp/mcp_options.h"

const char* const mcp_usage_text =
    "usage: vistrel-mcp [--port N] [--dir FOLDER]\n"
    "\n"
    "The camera and the screen as Model Context Protocol tools for AI agents.\n"
    "An agent starts vistrel-mcp and talks to it over standard input and output;\n"
    "the Vistrel app must be running.\n"
    "\n"
    "  --port N       the app's port (default: VISTREL_PORT, else 7777)\n"
    "  --dir FOLDER   where recordings are saved (default: the temporary folder)\n"
    "  --help         this text\n"
    "  --version      the version\n";

McpOptionsResult parse_mcp_options(const std::vector<std::string>& args) {
    McpOptionsResult result;
    McpOptions& options = result.options;
    for (std::size_t i = 0; i < args.size() && !result.error; ++i) {
        const std::string& arg = args[i];
        auto value_of = [&](const std::string& name, std::optional<std::string>& into) {
            if (arg.rfind(name + "=", 0) == 0) {
                into = arg.substr(name.size() + 1);
                return true;
            }
            if (arg != name) return false;
            if (i + 1 >= args.size()) {
                result.error = name + " needs a value";
            } else {
                into = args[++i];
            }
            return true;
        };
        if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--version") {
            options.version = true;
        } else if (!value_of("--port", options.port) && !value_of("--dir", options.dir)) {
            result.error = "unknown option " + arg;
        }
    }
    return result;
}
