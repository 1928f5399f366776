#include "endpoints/json_body.h"

#include "fault.h"

#include <gtest/gtest.h>

namespace {
std::string refusal_text(const std::function<void()>& f) {
    try {
        f();
    } catch (const Fault& r) {
        EXPECT_EQ(r.kind, FaultKind::bad_argument);
        return r.message;
    }
    return "(accepted)";
}

TEST(JsonBody, BodiesMustBeJsonObjects) {
    EXPECT_TRUE(parse_json_object("").empty());
    EXPECT_TRUE(parse_json_object(" \r\n").empty());
    EXPECT_EQ(parse_json_object(R"({"device":null})").size(), 1u);
    for (const char* body : {"{", "nul", "{\"a\":1}x", "\"\xff\"", "{\"a\":\"\xc3\"}"}) {
        EXPECT_EQ(refusal_text([&] { parse_json_object(body); }), "the request body is not valid JSON") << body;
    }
    for (const char* body : {"[]", "1", "null", "\"x\""}) {
        EXPECT_EQ(refusal_text([&] { parse_json_object(body); }), "the request body must be a JSON object") << body;
    }
}

TEST(JsonBody, MembersAreCheckedByType) {
    auto body = parse_json_object(
        R"({"s":"x","n":5,"neg":-5,"f":5.0,"big":18446744073709551615,"nul":null,"arr":[],"t":true})");
    EXPECT_EQ(optional_string_member(body, "s"), "x");
    EXPECT_FALSE(optional_string_member(body, "nul"));
    EXPECT_FALSE(optional_string_member(body, "absent"));
    EXPECT_EQ(optional_integer_member(body, "n"), 5);
    EXPECT_EQ(required_integer_member(body, "neg"), -5);
    EXPECT_FALSE(optional_integer_member(body, "nul"));

    EXPECT_EQ(refusal_text([&] { optional_string_member(body, "n"); }), "\"n\" must be a string or null");
    EXPECT_EQ(refusal_text([&] { required_string_member(body, "absent"); }), "\"absent\" must be a string");
    EXPECT_EQ(refusal_text([&] { required_string_member(body, "arr"); }), "\"arr\" must be a string");
    EXPECT_EQ(refusal_text([&] { optional_integer_member(body, "f"); }), "\"f\" must be a whole number");
    EXPECT_EQ(refusal_text([&] { optional_integer_member(body, "s"); }), "\"s\" must be a whole number");
    EXPECT_EQ(refusal_text([&] { optional_integer_member(body, "t"); }), "\"t\" must be a whole number");
    EXPECT_EQ(refusal_text([&] { optional_integer_member(body, "big"); }), "\"big\" is too large");
    EXPECT_EQ(refusal_text([&] { required_integer_member(body, "nul"); }), "\"nul\" must be a whole number");
}
}  // namespace
