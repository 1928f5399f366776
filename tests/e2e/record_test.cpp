// record: the body, the name, the line.
#include <gtest/gtest.h>

#include "e2e_case.h"

namespace {
const std::string video(3000, 'v');
}

TEST(Record, BodyAndFileName) {
    struct Case {
        std::vector<std::string> arguments;
        std::string body, out;
        std::string file;
    };
    const Case cases[] = {
        {{"record"}, R"({"format":null,"secs":null})", "screen.webm  3000 bytes\n", "screen.webm"},
        {{"record", "--secs", "10", "--format", "mp4"}, R"({"format":"mp4","secs":10})", "screen.mp4  3000 bytes\n",
         "screen.mp4"},
        {{"record", "--format", "MP4"}, R"({"format":"MP4","secs":null})", "screen.webm  3000 bytes\n", "screen.webm"},
        {{"record", "--format=mkv"}, R"({"format":"mkv","secs":null})", "screen.webm  3000 bytes\n", "screen.webm"},
        {{"record", "--format", " mp4"}, R"({"format":" mp4","secs":null})", "screen.webm  3000 bytes\n",
         "screen.webm"},
        {{"record", "--secs=+7"}, R"({"format":null,"secs":7})", "screen.webm  3000 bytes\n", "screen.webm"},
        {{"record", "--secs", "007"}, R"({"format":null,"secs":7})", "screen.webm  3000 bytes\n", "screen.webm"},
        {{"record", "--secs", "0"}, R"({"format":null,"secs":0})", "screen.webm  3000 bytes\n", "screen.webm"},
        {{"record", "--secs", "500"}, R"({"format":null,"secs":500})", "screen.webm  3000 bytes\n", "screen.webm"},
        {{"record", "--secs", "4294967295"}, R"({"format":null,"secs":4294967295})", "screen.webm  3000 bytes\n",
         "screen.webm"},
        {{"record", "--secs", "5", "--out", "clip.mp4"}, R"({"format":null,"secs":5})", "clip.mp4  3000 bytes\n",
         "clip.mp4"},
        {{"record", "--json", "--format", "mp4"}, R"({"format":"mp4","secs":null})",
         "{\"bytes\":3000,\"path\":\"screen.mp4\"}\n", "screen.mp4"},
        {{"record", "--format", "caf\u00e9\"\\"}, R"({"format":"caf)" "\u00e9" R"(\"\\","secs":null})",
         "screen.webm  3000 bytes\n", "screen.webm"},
    };
    for (const Case& c : cases) {
        check_case({.name = testing::PrintToString(c.arguments),
                    .arguments = c.arguments,
                    .replies = {http_reply(200, video, "Content-Type: video/webm\r\n")},
                    .requests = {post_request("/api/screen/record", c.body)},
                    .out = c.out,
                    .files_after = {{{c.file, video}}}});
    }
}

TEST(Record, Failures) {
    for (std::string secs : {"-1", "1.5", "5s", "4294967296", "", "+", "-", " 5", "1e3"}) {
        check_case({.name = "--secs " + secs,
                    .arguments = {"record", "--secs", secs},
                    .err = "error: --secs wants a whole number of seconds\n",
                    .status = 1});
    }
    check_case({.name = "refused with a message",
                .arguments = {"record", "--secs", "999"},
                .replies = {json_reply(R"({"error":"at most 120 seconds"})", 400)},
                .requests = {post_request("/api/screen/record", R"({"format":null,"secs":999})")},
                .err = "error: at most 120 seconds\n",
                .status = 1,
                .files_before = {{"screen.webm", "old"}}});
    check_case({.name = "refused without one",
                .arguments = {"record"},
                .replies = {http_reply(500, "Internal Server Error")},
                .requests = {post_request("/api/screen/record", R"({"format":null,"secs":null})")},
                .err = "error: could not record the screen\n",
                .status = 1});
}
