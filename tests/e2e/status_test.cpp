// status: three lines, or the reply as pretty JSON; and the refusal rules
// that every JSON command shares.
#include <gtest/gtest.h>

#include "e2e_case.h"

namespace {
const std::string request = get_request("/api/health");
}

TEST(Status, ThreeLines) {
    struct Case {
        std::string name, body, out;
    };
    const Case cases[] = {
        {"everything", R"({"version":"0.2.0","port":7777,"settings":{"device":"0","width":1280,"height":720}})",
         "vistrel \"0.2.0\" on port 7777\n  camera  0\n  size    1280x720\n"},
        {"no settings", R"({"version":"0.2.0","port":7777})",
         "vistrel \"0.2.0\" on port 7777\n  camera  (best available)\n  size    nullxnull\n"},
        {"an empty device", R"({"settings":{"device":""}})",
         "vistrel null on port null\n  camera  (best available)\n  size    nullxnull\n"},
        {"a null device", R"({"settings":{"device":null}})",
         "vistrel null on port null\n  camera  (best available)\n  size    nullxnull\n"},
        {"a number device", R"({"settings":{"device":0,"width":1.5,"height":"tall"}})",
         "vistrel null on port null\n  camera  (best available)\n  size    1.5x\"tall\"\n"},
        {"settings that are no object", R"({"settings":[1],"version":{"v":2}})",
         "vistrel {\"v\":2} on port null\n  camera  (best available)\n  size    nullxnull\n"},
        {"quotes and backslashes", R"({"version":"a\"b\\c","settings":{"device":"cam \"1\" \\ né"}})",
         "vistrel \"a\\\"b\\\\c\" on port null\n  camera  cam \"1\" \\ né\n  size    nullxnull\n"},
        {"not JSON", "<html>hello</html>",
         "vistrel null on port null\n  camera  (best available)\n  size    nullxnull\n"},
        {"the app's own port", R"({"port":7777,"version":"1"})",
         "vistrel \"1\" on port 7777\n  camera  (best available)\n  size    nullxnull\n"},
    };
    for (const Case& c : cases) {
        check_case({.name = c.name, .arguments = {"status"}, .replies = {json_reply(c.body)}, .requests = {request}, .out = c.out});
    }
}

TEST(Status, JsonPrintsTheWholeReplySorted) {
    check_case({.name = "pretty",
                .arguments = {"--json", "status"},
                .replies = {json_reply(R"({"version":"0.2.0","port":7777,"settings":{"width":1280,"height":720,"device":"0"},"extra":[]})")},
                .requests = {request},
                .out = "{\n  \"extra\": [],\n  \"port\": 7777,\n  \"settings\": {\n    \"device\": \"0\",\n    \"height\": 720,\n"
                       "    \"width\": 1280\n  },\n  \"version\": \"0.2.0\"\n}\n"});
    check_case({.name = "not JSON",
                .arguments = {"status", "--json"},
                .replies = {json_reply("nope")},
                .requests = {request},
                .out = "null\n"});
}

TEST(Refusals, StatusFourHundredOrMoreFailsWithTheAppsMessage) {
    struct Case {
        std::string name;
        int status;
        std::string body, out, err;
    };
    const Case cases[] = {
        {"399 succeeds", 399, R"({"error":"x"})", "{\n  \"error\": \"x\"\n}\n", ""},
        {"400 fails", 400, R"({"error":"bad request"})", "", "error: bad request\n"},
        {"404 with a string", 404, R"({"error":"no such camera"})", "", "error: no such camera\n"},
        {"500 with HTML", 500, "<html>oops</html>", "", "error: the app rejected the request\n"},
        {"a number error", 400, R"({"error":42})", "", "error: the app rejected the request\n"},
        {"a null error", 400, R"({"error":null})", "", "error: the app rejected the request\n"},
        {"an object error", 400, R"({"error":{"text":"x"}})", "", "error: the app rejected the request\n"},
        {"no error member", 503, R"({"message":"busy"})", "", "error: the app rejected the request\n"},
        {"an array body", 400, R"(["error"])", "", "error: the app rejected the request\n"},
        {"an empty string", 400, R"({"error":""})", "", "error: \n"},
        {"a message of two lines", 409, R"({"error":"first\nsecond"})", "", "error: first\nsecond\n"},
    };
    for (const Case& c : cases) {
        check_case({.name = c.name,
                    .arguments = {"status", "--json"},
                    .replies = {json_reply(c.body, c.status)},
                    .requests = {request},
                    .out = c.out,
                    .err = c.err,
                    .status = c.err.empty() ? 0 : 1});
    }
}
