// The entry: usage, dispatch, unrecognised words, and arguments.
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

#include "e2e_case.h"

namespace {
std::string usage() {
    std::ifstream in(VISTREL_USAGE_FILE, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

const std::string health = R"({"port":7777,"settings":{"device":"0","height":720,"width":1280},"version":"0.2.0"})";
const std::string status_lines = "vistrel \"0.2.0\" on port 7777\n  camera  0\n  size    1280x720\n";
}  // namespace

TEST(Usage, PrintedForNoCommandHelpAndDashH) {
    ASSERT_EQ(usage().size(), 1527u);
    const std::vector<std::vector<std::string>> command_lines = {
        {}, {"help"}, {"-h"}, {""}, {"--help"}, {"--json", "--port=8000"}, {"help", "--json"}, {"-h", "snap"},
    };
    for (const auto& arguments : command_lines) {
        check_case({.name = testing::PrintToString(arguments), .arguments = arguments, .out = usage() + "\n"});
    }
}

TEST(Usage, UnknownCommandWordsGoToStandardErrorWithStatusOne) {
    for (std::string word : {"HELP", "Snap", "-x", "snapshot", "8000"}) {
        std::vector<std::string> arguments = {word};
        if (word == "8000") arguments = {"--port", "8000", "status"};  // a separate option value comes first
        check_case({.name = word,
                    .arguments = arguments,
                    .err = "unknown command: " + word + "\n\n" + usage() + "\n",
                    .status = 1});
    }
}

TEST(Dispatch, OptionsAndExtraWordsAroundTheCommandWord) {
    const std::vector<std::vector<std::string>> command_lines = {
        {"--port={port}", "status"},
        {"status", "--port", "{port}"},
        {"--help", "status"},
        {"status", "extra", "words"},
        {"--verbose", "status", "--Json"},
    };
    for (const auto& arguments : command_lines) {
        check_case({.name = testing::PrintToString(arguments),
                    .arguments = arguments,
                    .replies = {json_reply(health)},
                    .requests = {get_request("/api/health")},
                    .out = status_lines});
    }
}

TEST(Arguments, NotUnicodeIsRefusedBeforeAnythingRuns) {
    if (testing_windows_build()) GTEST_SKIP() << "Windows arguments arrive as UTF-16";
    check_case({.name = "Latin-1 file name",
                .arguments = {"snap", "--out", "caf\xE9.jpg"},
                .err = "error: argument 3 is not valid Unicode text\n",
                .status = 1});
}

TEST(Output, AClosedStandardOutputIsAFailureNotACrash) {
    FakeApp app({json_reply(health)});
    ScratchFolder folder;
    RunOptions options{folder.path, {{"VISTREL_PORT", std::to_string(app.port())}}, true};
    RunResult result = run_vistrel({"status"}, options);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err.rfind("error: cannot write to standard output: ", 0), 0u) << result.err;
}
