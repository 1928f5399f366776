// devices, controls and set.
#include <gtest/gtest.h>

#include "e2e_case.h"

namespace {
const std::string no_cameras = "no cameras found \u2014 plug one in; any UVC webcam works\n";
}

TEST(Devices, Listing) {
    struct Case {
        std::string name, body, out;
    };
    const Case cases[] = {
        {"three kinds",
         R"({"devices":[{"id":"0","name":"Front camera","focusable":true},{"id":"screen","name":"Screen","focusable":false},)"
         R"({"id":"net:phone","name":"Kamera für Küche – Fenster","focusable":"true"}]})",
         "    0  Front camera                       focusable\n"
         "  screen  Screen                             fixed focus\n"
         "  net:phone  Kamera für Küche – Fenster         fixed focus\n"},
        {"missing and mistyped members",
         R"({"devices":[{"id":0,"name":null},{"focusable":1},"text",{"id":"12","name":"A name that is far longer than its field"}]})",
         "    ?  ?                                  fixed focus\n"
         "    ?  ?                                  fixed focus\n"
         "    ?  ?                                  fixed focus\n"
         "   12  A name that is far longer than its field fixed focus\n"},
        {"an empty list", R"({"devices":[]})", no_cameras},
        {"no list", R"({"cameras":[1]})", no_cameras},
        {"a null list", R"({"devices":null})", no_cameras},
        {"an object for a list", R"({"devices":{"id":"0"}})", no_cameras},
        {"not JSON", "devices: none", no_cameras},
    };
    for (const Case& c : cases) {
        check_case({.name = c.name,
                    .arguments = {"devices", "extra"},
                    .replies = {json_reply(c.body)},
                    .requests = {get_request("/api/devices")},
                    .out = c.out});
    }
    check_case({.name = "--json, even for an empty list",
                .arguments = {"--json", "devices"},
                .replies = {json_reply(R"({"devices":[]})")},
                .requests = {get_request("/api/devices")},
                .out = "{\n  \"devices\": []\n}\n"});
    check_case({.name = "refused",
                .arguments = {"devices"},
                .replies = {json_reply(R"({"error":"camera service stopped"})", 503)},
                .requests = {get_request("/api/devices")},
                .err = "error: camera service stopped\n",
                .status = 1});
}

TEST(Controls, Listing) {
    check_case({.name = "every field",
                .arguments = {"controls"},
                .replies = {json_reply(R"({"controls":[{"name":"focus","min":0,"max":255,"value":30},)"
                                       R"({"name":"exposure","min":-13,"max":-1,"value":-6.5},)"
                                       R"({"name":"white balance tint","min":"a","value":true},{"min":1,"max":2,"value":1},)"
                                       R"({"name":"Schärfe","min":0,"max":1,"value":0}]})")},
                .requests = {get_request("/api/controls?_=")},
                .out = "  focus          0..255  now 30\n"
                       "  exposure       -13..-1  now -6.5\n"
                       "  white balance tint \"a\"..null  now true\n"
                       "  ?              1..2  now 1\n"
                       "  Schärfe        0..1  now 0\n"});
    check_case({.name = "a device",
                .arguments = {"controls", "--device", "1"},
                .replies = {json_reply(R"({"controls":[]})")},
                .requests = {get_request("/api/controls?_=&device=1")},
                .out = ""});
    check_case({.name = "no list prints nothing",
                .arguments = {"controls"},
                .replies = {json_reply(R"({"controls":"none"})")},
                .requests = {get_request("/api/controls?_=")},
                .out = ""});
    check_case({.name = "--json",
                .arguments = {"controls", "--json"},
                .replies = {json_reply(R"({"controls":[{"value":1,"name":"zoom"}]})")},
                .requests = {get_request("/api/controls?_=")},
                .out = "{\n  \"controls\": [\n    {\n      \"name\": \"zoom\",\n      \"value\": 1\n    }\n  ]\n}\n"});
}

TEST(Set, SendsAWholeNumber) {
    struct Case {
        std::vector<std::string> arguments;
        std::string body;
    };
    const Case cases[] = {
        {{"set", "focus", "60"}, R"({"device":null,"name":"focus","value":60})"},
        {{"set", "focus", "+60"}, R"({"device":null,"name":"focus","value":60})"},
        {{"set", "focus", "-5"}, R"({"device":null,"name":"focus","value":-5})"},
        {{"set", "focus", "007"}, R"({"device":null,"name":"focus","value":7})"},
        {{"set", "focus", "-0"}, R"({"device":null,"name":"focus","value":0})"},
        {{"set", "zoom", "9223372036854775807"}, R"({"device":null,"name":"zoom","value":9223372036854775807})"},
        {{"set", "zoom", "-9223372036854775808"}, R"({"device":null,"name":"zoom","value":-9223372036854775808})"},
        {{"set", "focus", "60", "--device", "1"}, R"({"device":"1","name":"focus","value":60})"},
        {{"set", "--device=1", "focus", "60"}, R"({"device":"1","name":"focus","value":60})"},
        {{"set", "white \"balance\"", "1", "extra"}, R"({"device":null,"name":"white \"balance\"","value":1})"},
    };
    for (const Case& c : cases) {
        check_case({.name = testing::PrintToString(c.arguments),
                    .arguments = c.arguments,
                    .replies = {json_reply(R"({"control":"focus","value":60,"was":30})")},
                    .requests = {post_request("/api/controls", c.body)},
                    .out = "\"focus\" = 60 (was 30)\n"});
    }
}

TEST(Set, RepliesAndFailures) {
    check_case({.name = "a reply without members",
                .arguments = {"set", "focus", "1"},
                .replies = {json_reply("{}")},
                .requests = {post_request("/api/controls", R"({"device":null,"name":"focus","value":1})")},
                .out = "null = null (was null)\n"});
    check_case({.name = "--json anywhere",
                .arguments = {"set", "--json", "focus", "60"},
                .replies = {json_reply(R"({"was":30,"control":"focus","value":60})")},
                .requests = {post_request("/api/controls", R"({"device":null,"name":"focus","value":60})")},
                .out = "{\n  \"control\": \"focus\",\n  \"value\": 60,\n  \"was\": 30\n}\n"});
    check_case({.name = "refused by the app",
                .arguments = {"set", "focus", "999"},
                .replies = {json_reply(R"({"error":"focus must be between 0 and 255"})", 400)},
                .requests = {post_request("/api/controls", R"({"device":null,"name":"focus","value":999})")},
                .err = "error: focus must be between 0 and 255\n",
                .status = 1});
    const std::string usage = "error: usage: vistrel set <name> <value>   e.g. vistrel set focus 60\n";
    const std::vector<std::vector<std::string>> too_few = {{"set"}, {"set", "focus"}, {"set", "focus", "--5"}};
    for (const auto& arguments : too_few) {
        check_case({.name = testing::PrintToString(arguments), .arguments = arguments, .err = usage, .status = 1});
    }
    const std::vector<std::vector<std::string>> not_whole = {
        {"set", "focus", "+"},   {"set", "focus", "-"},    {"set", "focus", ""},     {"set", "focus", "6.0"},
        {"set", "focus", "1e3"}, {"set", "focus", "0x10"}, {"set", "focus", " 60"},  {"set", "focus", "60 "},
        {"set", "focus", "+-5"}, {"set", "focus", "٣"},    {"set", "--device", "1", "focus", "60"},
        {"set", "zoom", "9223372036854775808"},            {"set", "zoom", "-9223372036854775809"},
    };
    for (const auto& arguments : not_whole) {
        check_case({.name = testing::PrintToString(arguments),
                    .arguments = arguments,
                    .err = "error: value must be a whole number\n",
                    .status = 1});
    }
}
