#pragma once
// vistrel-mcp's command line.
#include <optional>
#include <string>
#include <vector>

struct McpOptions {
    std::optional<std::string> port;  // the app's port; else VISTREL_PORT, else 7777
    std::optional<std::string> dir;   // where recordings go; else the temporary folder
    bool help = false;
    bool version = false;
};

struct McpOptionsResult {
    McpOptions options;
    std::optional<std::string> error;
};

// `args` without the program name: --port N, --dir FOLDER (or --port=N,
// --dir=FOLDER), --help, --version.
McpOptionsResult parse_mcp_options(const std::vector<std::string>& args);

extern const char* const mcp_usage_text;
