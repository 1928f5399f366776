// The entry of vistrel-mcp: the command line, then one session over standard
// input and output until the input ends.
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "mcp/http_app.h"
#include "mcp/line_reader.h"
#include "mcp/mcp_options.h"
#include "mcp/saved_files.h"
#include "mcp/session.h"
#include "platform/standard_input.h"
#include "platform/system.h"

namespace {
// Lines go out whole, one at a time: a reply of a megabyte is never cut into
// by a progress report.
class StandardOutput : public LineSink {
public:
    bool write_line(std::string_view line) override {
        std::string text;
        text.reserve(line.size() + 1);
        text.append(line);
        text += '\n';
        std::lock_guard lock(mutex_);
        if (failed_) return false;
        if (auto error = write_stream(Stream::out, text)) {
            (void)write_stream(Stream::err, "vistrel-mcp: cannot write to standard output: " + error->text + "\n");
            failed_ = true;
            return false;
        }
        return true;
    }

private:
    std::mutex mutex_;
    bool failed_ = false;
};

[[noreturn]] void refuse(const std::string& message) {
    (void)write_stream(Stream::err, "vistrel-mcp: " + message + "\n");
    exit_process(1);
}

bool is_folder(const std::string& path) {
    std::error_code error;
    return std::filesystem::is_directory(std::filesystem::path(std::u8string(path.begin(), path.end())), error);
}

constexpr std::size_t max_message = 16 * 1024 * 1024;

[[noreturn]] void run(const std::vector<std::string>& args) {
    platform_start();
    set_binary_standard_streams();
    McpOptionsResult parsed = parse_mcp_options(args);
    if (parsed.error) refuse(*parsed.error + " (see vistrel-mcp --help)");
    const McpOptions& options = parsed.options;
    if (options.help || options.version) {
        (void)write_stream(Stream::out, options.help ? std::string(mcp_usage_text)
                                                     : std::string("vistrel-mcp " VISTREL_MCP_VERSION "\n"));
        exit_process(0);
    }
    if (options.dir && !is_folder(*options.dir)) refuse("--dir " + *options.dir + ": no such folder");
    std::string folder = options.dir ? *options.dir : temporary_folder();

    std::unique_ptr<AppApi> app = http_app(options.port);
    StandardOutput out;
    ToolSettings settings;
    settings.folder = absolute_path(folder);
    SessionSetup setup{out, *app, settings, VISTREL_MCP_VERSION};
    // The client is gone: nobody is left to answer. By then every exchange
    // with the app has been stopped, so that a recording ends at once.
    setup.client_gone = [] { exit_process(1); };
    Session session(setup);
    LineReader lines(
        max_message, [&](std::string_view line) { session.receive(line); },
        [&] {
            out.write_line(error_line(std::nullopt, rpc_error::invalid_request,
                                      "invalid request: a message may be at most 16 MiB long"));
        });
    std::vector<char> buffer(64 * 1024);
    for (;;) {
        InputRead got = read_standard_input(buffer.data(), buffer.size());
        if (got.error) {
            (void)write_stream(Stream::err, "vistrel-mcp: cannot read standard input: " + got.error->text + "\n");
        }
        if (got.bytes == 0) break;
        lines.feed(std::string_view(buffer.data(), got.bytes));
    }
    lines.end();
    // The client is shutting down: what still runs is stopped and answers at
    // once; a call that does not end in time is not waited for.
    session.finish();
    exit_process(0);
}
}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) args.push_back(utf8_from_wide(argv[i]));
    run(args);
}
#else
int main(int argc, char** argv) {
    run(std::vector<std::string>(argv + 1, argv + argc));
}
#endif
