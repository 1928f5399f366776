#include "e2e_case.h"

#include <gtest/gtest.h>

namespace {
void replace_all(std::string& text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
}

// What the system says for each error, on the platform under test.
const std::map<std::string, std::string>& platform_texts() {
    static const std::map<std::string, std::string> posix = {
        {"{refused}", "Connection refused (os error 111)"},
        {"{no_such_path}", "No such file or directory (os error 2)"},
        {"{is_directory}", "Is a directory (os error 21)"},
        {"{access_denied}", "Permission denied (os error 13)"},
        {"{too_large}", "File too large (os error 27)"},
    };
    static const std::map<std::string, std::string> windows = {
        {"{refused}", "Connection refused. (os error 10061)"},
        {"{no_such_path}", "Path not found. (os error 3)"},
        {"{is_directory}", "Access denied. (os error 5)"},
        {"{access_denied}", "Access denied. (os error 5)"},
    };
    return testing_windows_build() ? windows : posix;
}
}  // namespace

std::string expand(std::string text, std::uint16_t port) {
    replace_all(text, "{port}", std::to_string(port));
    for (const auto& [key, value] : platform_texts()) replace_all(text, key, value);
    return text;
}

std::string get_request(const std::string& path) {
    return "GET " + path + " HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\nConnection: close\r\nContent-Length: 0\r\n\r\n";
}

std::string post_request(const std::string& path, const std::string& json) {
    return "POST " + path +
           " HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\nConnection: close\r\nContent-Type: application/json\r\n"
           "Content-Length: " +
           std::to_string(json.size()) + "\r\n\r\n" + json;
}

std::string unreachable(const std::string& base, const std::string& reason) {
    return "error: cannot reach Vistrel at " + base + " (" + reason +
           ")\n  Is the app running? Start it from your applications menu, or: vistrel-app &\n"
           "  Different port?     vistrel --port=7999 \u2026  or set VISTREL_PORT\n";
}

void check_case(const E2eCase& test) {
    SCOPED_TRACE(test.name);
    FakeApp app(test.replies);
    ScratchFolder folder;
    for (const auto& [name, bytes] : test.files_before) write_bytes(folder.path / name, bytes);

    RunOptions options;
    options.folder = folder.path;
    if (test.port_in_environment) options.environment["VISTREL_PORT"] = std::to_string(app.port());
    for (const auto& [name, value] : test.environment) {
        options.environment[name] = value ? std::optional(expand(*value, app.port())) : std::nullopt;
    }
    std::vector<std::string> arguments;
    for (const std::string& argument : test.arguments) arguments.push_back(expand(argument, app.port()));

    RunResult result = run_vistrel(arguments, options);
    EXPECT_EQ(result.out, expand(test.out, app.port()));
    EXPECT_EQ(result.err, expand(test.err, app.port()));
    EXPECT_EQ(result.status, test.status);
    std::vector<std::string> expected_requests;
    for (const std::string& request : test.requests) expected_requests.push_back(expand(request, app.port()));
    EXPECT_EQ(app.requests(), expected_requests);
    EXPECT_EQ(files_in(folder.path), test.files_after.value_or(test.files_before));
}
