// add-source, sources and forget-source.
#include <gtest/gtest.h>

#include "e2e_case.h"

namespace {
const std::string empty_list =
    "no phone / IP cameras registered\n  add one: vistrel add-source phone http://<phone-ip>:8080/shot.jpg\n";
const std::string add_usage =
    "error: usage: vistrel add-source <name> <url>\n  e.g. vistrel add-source phone http://192.168.1.50:8080/shot.jpg\n";
const std::string forget_usage = "error: usage: vistrel forget-source <name>\n";
}  // namespace

TEST(AddSource, SendsWhatWasTyped) {
    check_case({.name = "the result line",
                .arguments = {"add-source", "phone", "http://192.168.1.50:8080/shot.jpg"},
                .replies = {json_reply(R"({"added":"phone"})")},
                .requests = {post_request("/api/sources", R"({"name":"phone","url":"http://192.168.1.50:8080/shot.jpg"})")},
                .out = "added \"phone\" \u2014 use it with --device net:phone\n"});
    check_case({.name = "no added member",
                .arguments = {"add-source", "my phone", "not a url", "extra"},
                .replies = {json_reply("{}")},
                .requests = {post_request("/api/sources", R"({"name":"my phone","url":"not a url"})")},
                .out = "added null \u2014 use it with --device net:?\n"});
    check_case({.name = "an option value takes an operand's place",
                .arguments = {"add-source", "--out", "8000", "phone", "--json"},
                .replies = {json_reply(R"({"added":"8000"})")},
                .requests = {post_request("/api/sources", R"({"name":"8000","url":"phone"})")},
                .out = "{\n  \"added\": \"8000\"\n}\n"});
    check_case({.name = "refused",
                .arguments = {"add-source", "", "x"},
                .replies = {json_reply(R"({"error":"a source needs a name"})", 400)},
                .requests = {post_request("/api/sources", R"({"name":"","url":"x"})")},
                .err = "error: a source needs a name\n",
                .status = 1});
    for (const std::vector<std::string>& arguments :
         std::vector<std::vector<std::string>>{{"add-source"}, {"add-source", "phone"}, {"add-source", "phone", "--json"}}) {
        check_case({.name = testing::PrintToString(arguments), .arguments = arguments, .err = add_usage, .status = 1});
    }
}

TEST(Sources, Listing) {
    struct Case {
        std::string name, body, out;
    };
    const Case cases[] = {
        {"two sources",
         R"({"sources":[{"name":"phone","url":"http://192.168.1.50:8080/shot.jpg"},{"name":"kitchen-camera-long-name","url":"http://k/"}]})",
         "  net:phone            http://192.168.1.50:8080/shot.jpg\n"
         "  net:kitchen-camera-long-name http://k/\n"},
        {"non-ASCII names and missing members", R"({"sources":[{"name":"Küche"},{"url":7}]})",
         "  net:Küche            ?\n"
         "  net:?                ?\n"},
        {"an empty list", R"({"sources":[]})", empty_list},
        {"no list", "{}", empty_list},
        {"not an array", R"({"sources":{"name":"x"}})", empty_list},
        {"not JSON", "", empty_list},
    };
    for (const Case& c : cases) {
        check_case({.name = c.name,
                    .arguments = {"sources"},
                    .replies = {json_reply(c.body)},
                    .requests = {get_request("/api/sources")},
                    .out = c.out});
    }
    check_case({.name = "--json instead of the empty-list text",
                .arguments = {"sources", "--json"},
                .replies = {json_reply(R"({"sources":[]})")},
                .requests = {get_request("/api/sources")},
                .out = "{\n  \"sources\": []\n}\n"});
}

TEST(ForgetSource, RemovesOne) {
    check_case({.name = "the result line",
                .arguments = {"forget-source", "phone"},
                .replies = {json_reply(R"({"removed":"phone"})")},
                .requests = {post_request("/api/sources/remove", R"({"name":"phone"})")},
                .out = "removed \"phone\"\n"});
    check_case({.name = "no removed member",
                .arguments = {"forget-source", "phone"},
                .replies = {json_reply(R"({"ok":true})")},
                .requests = {post_request("/api/sources/remove", R"({"name":"phone"})")},
                .out = "removed null\n"});
    check_case({.name = "--json",
                .arguments = {"forget-source", "phone", "--json"},
                .replies = {json_reply(R"({"removed":"phone"})")},
                .requests = {post_request("/api/sources/remove", R"({"name":"phone"})")},
                .out = "{\n  \"removed\": \"phone\"\n}\n"});
    check_case({.name = "refused",
                .arguments = {"forget-source", "ghost"},
                .replies = {json_reply(R"({"error":"no source named ghost"})", 404)},
                .requests = {post_request("/api/sources/remove", R"({"name":"ghost"})")},
                .err = "error: no source named ghost\n",
                .status = 1});
    for (const std::vector<std::string>& arguments :
         std::vector<std::vector<std::string>>{{"forget-source"}, {"forget-source", "--json"}}) {
        check_case({.name = testing::PrintToString(arguments), .arguments = arguments, .err = forget_usage, .status = 1});
    }
}
