// snap and screenshot: the request, the file, the line.
#include <gtest/gtest.h>

#include "e2e_case.h"

namespace {
using Files = std::map<std::string, std::string>;
const std::string jpeg(512, '\xD8');
}  // namespace

TEST(Snap, RequestsFileAndLine) {
    struct Case {
        std::string name;
        std::vector<std::string> arguments;
        std::string path, out;
        Files files;
    };
    const Case cases[] = {
        {"defaults", {"snap"}, "/api/frame.jpg?_=", "vistrel.jpg  512 bytes\n", {{"vistrel.jpg", jpeg}}},
        {"device and size", {"snap", "--device", "screen", "--size", "1280x720"},
         "/api/frame.jpg?_=&device=screen&width=1280&height=720", "vistrel.jpg  512 bytes\n", {{"vistrel.jpg", jpeg}}},
        {"a network source", {"snap", "--device=net:phone"}, "/api/frame.jpg?_=&device=net:phone",
         "vistrel.jpg  512 bytes\n", {{"vistrel.jpg", jpeg}}},
        {"--out", {"snap", "--out", "a.jpg"}, "/api/frame.jpg?_=", "a.jpg  512 bytes\n", {{"a.jpg", jpeg}}},
        {"a relative path stays relative", {"snap", "--out=./b.jpg"}, "/api/frame.jpg?_=",
         "./b.jpg  512 bytes\n", {{"b.jpg", jpeg}}},
        {"a non-ASCII name", {"snap", "--out", "café ü.jpg"}, "/api/frame.jpg?_=", "café ü.jpg  512 bytes\n",
         {{"café ü.jpg", jpeg}}},
        {"--json", {"snap", "--json"}, "/api/frame.jpg?_=", "{\"bytes\":512,\"path\":\"vistrel.jpg\"}\n",
         {{"vistrel.jpg", jpeg}}},
        {"--json escapes the path", {"snap", "--json", "--out", "q\"uote\\d.jpg"}, "/api/frame.jpg?_=",
         "{\"bytes\":512,\"path\":\"q\\\"uote\\\\d.jpg\"}\n", {{"q\"uote\\d.jpg", jpeg}}},
        {"extra words are ignored", {"snap", "extra"}, "/api/frame.jpg?_=", "vistrel.jpg  512 bytes\n",
         {{"vistrel.jpg", jpeg}}},
    };
    for (const Case& c : cases) {
        if (testing_windows_build() && c.name == "--json escapes the path") continue;  // not a Windows file name
        check_case({.name = c.name,
                    .arguments = c.arguments,
                    .replies = {http_reply(200, jpeg, "Content-Type: image/jpeg\r\n")},
                    .requests = {get_request(c.path)},
                    .out = c.out,
                    .files_after = c.files});
    }
}

TEST(Snap, ReplacesAnExistingFileOnlyAfterASuccessfulReply) {
    check_case({.name = "a longer file is truncated, not appended to",
                .arguments = {"snap"},
                .replies = {http_reply(200, "new")},
                .requests = {get_request("/api/frame.jpg?_=")},
                .out = "vistrel.jpg  3 bytes\n",
                .files_before = {{"vistrel.jpg", std::string(5000, 'o')}},
                .files_after = {{{"vistrel.jpg", "new"}}}});
    check_case({.name = "an empty body gives an empty file",
                .arguments = {"snap", "--json"},
                .replies = {http_reply(200, "")},
                .requests = {get_request("/api/frame.jpg?_=")},
                .out = "{\"bytes\":0,\"path\":\"vistrel.jpg\"}\n",
                .files_before = {{"vistrel.jpg", "old"}},
                .files_after = {{{"vistrel.jpg", ""}}}});
    check_case({.name = "399 is a success",
                .arguments = {"snap"},
                .replies = {http_reply(399, "odd")},
                .requests = {get_request("/api/frame.jpg?_=")},
                .out = "vistrel.jpg  3 bytes\n",
                .files_after = {{{"vistrel.jpg", "odd"}}}});
    // A refusal leaves the old file alone.
    check_case({.name = "a refusal",
                .arguments = {"snap", "--json"},
                .replies = {json_reply(R"({"error":"camera busy"})", 503)},
                .requests = {get_request("/api/frame.jpg?_=")},
                .err = "error: camera busy\n",
                .status = 1,
                .files_before = {{"vistrel.jpg", "old"}}});
    check_case({.name = "an app that hangs up without a reply",
                .arguments = {"snap"},
                .replies = {ScriptedReply{}},
                .requests = {get_request("/api/frame.jpg?_=")},
                .err = unreachable("http://127.0.0.1:{port}/api", "the connection closed without a reply"),
                .status = 1,
                .files_before = {{"vistrel.jpg", "old"}}});
    check_case({.name = "an app that cannot be reached",
                .arguments = {"snap", "--port=65536"},
                .err = unreachable("http://127.0.0.1:65536/api", "invalid port value"),
                .status = 1,
                .files_before = {{"vistrel.jpg", "old"}}});
}

TEST(Snap, Failures) {
    struct Case {
        std::string name;
        std::vector<std::string> arguments;
        std::vector<ScriptedReply> replies;
        std::vector<std::string> requests;
        std::string err;
    };
    const Case cases[] = {
        {"400 without an error string", {"snap"}, {http_reply(400, "<html/>")}, {get_request("/api/frame.jpg?_=")},
         "error: could not take a photo\n"},
        {"a number error", {"snap"}, {json_reply(R"({"error":7})", 500)}, {get_request("/api/frame.jpg?_=")},
         "error: could not take a photo\n"},
        {"a malformed size is refused before any request", {"snap", "--size", "abc"}, {}, {},
         "error: --size wants WxH, e.g. --size 1280x720\n"},
        {"an empty size", {"snap", "--size="}, {}, {}, "error: --size wants WxH, e.g. --size 1280x720\n"},
        {"a missing folder", {"snap", "--out", "shots/a.jpg"}, {http_reply(200, "x")},
         {get_request("/api/frame.jpg?_=")}, "error: cannot write shots/a.jpg: {no_such_path}\n"},
        {"a folder in the way", {"snap", "--out", "."}, {http_reply(200, "x")}, {get_request("/api/frame.jpg?_=")},
         "error: cannot write .: {is_directory}\n"},
    };
    for (const Case& c : cases) {
        check_case({.name = c.name, .arguments = c.arguments, .replies = c.replies, .requests = c.requests, .err = c.err, .status = 1});
    }
}

TEST(Screenshot, AlwaysTheScreen) {
    check_case({.name = "defaults",
                .arguments = {"screenshot"},
                .replies = {http_reply(200, jpeg)},
                .requests = {get_request("/api/frame.jpg?device=screen")},
                .out = "screen.jpg  512 bytes\n",
                .files_after = {{{"screen.jpg", jpeg}}}});
    check_case({.name = "the device option has no effect",
                .arguments = {"screenshot", "--device", "2", "--size", "640x480", "--out", "s.jpg", "--json"},
                .replies = {http_reply(200, jpeg)},
                .requests = {get_request("/api/frame.jpg?device=screen&width=640&height=480")},
                .out = "{\"bytes\":512,\"path\":\"s.jpg\"}\n",
                .files_after = {{{"s.jpg", jpeg}}}});
    check_case({.name = "refused without a message",
                .arguments = {"screenshot"},
                .replies = {http_reply(500, "")},
                .requests = {get_request("/api/frame.jpg?device=screen")},
                .err = "error: could not capture the screen\n",
                .status = 1});
    check_case({.name = "refused with a message",
                .arguments = {"screenshot"},
                .replies = {json_reply(R"({"error":"no display"})", 404)},
                .requests = {get_request("/api/frame.jpg?device=screen")},
                .err = "error: no display\n",
                .status = 1});
}
