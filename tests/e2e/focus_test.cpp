// focus and look: one sweep request, then (look) one frame.
#include <gtest/gtest.h>

#include "e2e_case.h"

namespace {
const std::string sweep_reply =
    R"({"sweep":{"sharpness":1234.6,"focus":87,"samples":[{"focus":120,"sharpness":600},)"
    R"({"focus":40,"sharpness":1234.6},{"focus":80,"sharpness":300}]}})";
const std::string chart = "locked focus 87 \u00b7 sharpness 1235 \u00b7 3 samples\n"
                          "     40 ##############################################\n"
                          "     80 ###########\n"
                          "    120 ######################\n";
const std::string no_device = R"({"device":null})";
}  // namespace

TEST(Focus, SummaryAndChart) {
    check_case({.name = "chart",
                .arguments = {"focus"},
                .replies = {json_reply(sweep_reply)},
                .requests = {post_request("/api/focus", no_device)},
                .out = chart});
    check_case({.name = "a device and --json: the reply as it came, keys sorted",
                .arguments = {"focus", "--device", "screen", "--json"},
                .replies = {json_reply(sweep_reply)},
                .requests = {post_request("/api/focus", R"({"device":"screen"})")},
                .out = "{\n  \"sweep\": {\n    \"focus\": 87,\n    \"samples\": [\n      {\n        \"focus\": 120,\n"
                       "        \"sharpness\": 600\n      },\n      {\n        \"focus\": 40,\n        \"sharpness\": 1234.6\n"
                       "      },\n      {\n        \"focus\": 80,\n        \"sharpness\": 300\n      }\n    ],\n"
                       "    \"sharpness\": 1234.6\n  }\n}\n"});
    check_case({.name = "not JSON",
                .arguments = {"focus"},
                .replies = {http_reply(200, "ok")},
                .requests = {post_request("/api/focus", no_device)},
                .out = "locked focus null \u00b7 sharpness 0 \u00b7 0 samples\n"});
    check_case({.name = "refused",
                .arguments = {"focus"},
                .replies = {json_reply(R"({"error":"this camera has no lens motor"})", 422)},
                .requests = {post_request("/api/focus", no_device)},
                .err = "error: this camera has no lens motor\n",
                .status = 1});
}

TEST(Look, FocusThenFrame) {
    check_case({.name = "two lines",
                .arguments = {"look", "--device", "screen"},
                .replies = {json_reply(sweep_reply), http_reply(200, "jpeg")},
                .requests = {post_request("/api/focus", R"({"device":"screen"})"),
                             get_request("/api/frame.jpg?_=&device=screen")},
                .out = "focus 87 (sharpness 1235)\nvistrel.jpg  4 bytes\n",
                .files_after = {{{"vistrel.jpg", "jpeg"}}}});
    check_case({.name = "--json: bytes, path, sweep",
                .arguments = {"look", "--json", "--out", "l.jpg", "--size", "2x3"},
                .replies = {json_reply(R"({"sweep":{"samples":[],"focus":5,"sharpness":9},"other":1})"),
                            http_reply(200, "jpeg")},
                .requests = {post_request("/api/focus", no_device), get_request("/api/frame.jpg?_=&width=2&height=3")},
                .out = "{\"bytes\":4,\"path\":\"l.jpg\",\"sweep\":{\"focus\":5,\"samples\":[],\"sharpness\":9}}\n",
                .files_after = {{{"l.jpg", "jpeg"}}}});
    check_case({.name = "--json without a sweep",
                .arguments = {"look", "--json"},
                .replies = {json_reply("{}"), http_reply(200, "")},
                .requests = {post_request("/api/focus", no_device), get_request("/api/frame.jpg?_=")},
                .out = "{\"bytes\":0,\"path\":\"vistrel.jpg\",\"sweep\":null}\n",
                .files_after = {{{"vistrel.jpg", ""}}}});
}

TEST(Look, NothingPrintedUnlessBothRequestsAndTheFileSucceed) {
    check_case({.name = "a refused sweep asks for no frame",
                .arguments = {"look"},
                .replies = {json_reply("{}", 500)},
                .requests = {post_request("/api/focus", no_device)},
                .err = "error: the app rejected the request\n",
                .status = 1,
                .files_before = {{"vistrel.jpg", "old"}}});
    check_case({.name = "a refused frame",
                .arguments = {"look"},
                .replies = {json_reply(sweep_reply), http_reply(500, "")},
                .requests = {post_request("/api/focus", no_device), get_request("/api/frame.jpg?_=")},
                .err = "error: could not take a photo\n",
                .status = 1,
                .files_before = {{"vistrel.jpg", "old"}}});
    check_case({.name = "the size is examined after the sweep",
                .arguments = {"look", "--size", "abc"},
                .replies = {json_reply(sweep_reply)},
                .requests = {post_request("/api/focus", no_device)},
                .err = "error: --size wants WxH, e.g. --size 1280x720\n",
                .status = 1});
    check_case({.name = "a file that cannot be written",
                .arguments = {"look", "--out", "no/such/dir.jpg"},
                .replies = {json_reply(sweep_reply), http_reply(200, "x")},
                .requests = {post_request("/api/focus", no_device), get_request("/api/frame.jpg?_=")},
                .err = "error: cannot write no/such/dir.jpg: {no_such_path}\n",
                .status = 1});
}
