#include <gtest/gtest.h>

#include "client/api.h"

TEST(JsonText, CompactAndPrettyForms) {
    struct Case {
        std::string body;
        std::string compact;
        std::string pretty;
    };
    const Case cases[] = {
        {R"({"b":[true,null],"a":1})", R"({"a":1,"b":[true,null]})", "{\n  \"a\": 1,\n  \"b\": [\n    true,\n    null\n  ]\n}"},
        {R"({"width":1280,"height":720,"device":"0"})", R"({"device":"0","height":720,"width":1280})",
         "{\n  \"device\": \"0\",\n  \"height\": 720,\n  \"width\": 1280\n}"},
        {"{}", "{}", "{}"},
        {"[]", "[]", "[]"},
        {R"({"a":{},"b":[[],{}]})", R"({"a":{},"b":[[],{}]})", "{\n  \"a\": {},\n  \"b\": [\n    [],\n    {}\n  ]\n}"},
        {"null", "null", "null"},
        {R"("x")", R"("x")", R"("x")"},
        // Keys sort by bytes: upper case before lower case, ASCII before the rest.
        {R"({"é":1,"b":2,"B":3,"a b":4})", R"({"B":3,"a b":4,"b":2,"é":1})",
         "{\n  \"B\": 3,\n  \"a b\": 4,\n  \"b\": 2,\n  \"é\": 1\n}"},
    };
    for (const Case& c : cases) {
        JsonValue value = body_json(c.body);
        EXPECT_EQ(json_text(value), c.compact) << c.body;
        EXPECT_EQ(json_pretty(value), c.pretty) << c.body;
    }
}

TEST(JsonText, StringEscapes) {
    std::string raw = "q\" b\\ /\b\f\n\r\t";
    raw += '\0';
    raw += "\x01\x1f\x7f é \u2028";
    EXPECT_EQ(json_text(JsonValue(raw)), "\"q\\\" b\\\\ /\\b\\f\\n\\r\\t\\u0000\\u0001\\u001f\x7f é \u2028\"");
}

TEST(JsonText, NumberKinds) {
    const std::pair<std::string, std::string> cases[] = {
        {"1280", "1280"},
        {"1280.0", "1280.0"},
        {"-5", "-5"},
        {"-0", "0"},
        {"18446744073709551615", "18446744073709551615"},
        {"-9223372036854775808", "-9223372036854775808"},
        {"18446744073709551616", "1.8446744073709552e19"},
        {"-9223372036854775809", "-9.223372036854776e18"},
        {"1234.6", "1234.6"},
        {"0.1", "0.1"},
        {"1e2", "100.0"},
        {"-2.5", "-2.5"},
        {"-0.0", "-0.0"},
        {"1e15", "1000000000000000.0"},
        {"1e16", "1e16"},
        {"1.5e17", "1.5e17"},
        {"0.00001", "0.00001"},
        {"0.000001", "1e-6"},
        {"1.5e-7", "1.5e-7"},
        {"5e-324", "5e-324"},
        {"1.7976931348623157e308", "1.7976931348623157e308"},
        {"0.30000000000000004", "0.30000000000000004"},
    };
    for (const auto& [body, text] : cases) EXPECT_EQ(json_text(body_json(body)), text) << body;
}

TEST(JsonText, WholeNumbersRoundHalfToEven) {
    const std::pair<double, std::string> cases[] = {
        {1234.6, "1235"}, {1234.4, "1234"}, {0.5, "0"}, {1.5, "2"}, {2.5, "2"},
        {0, "0"}, {-0.4, "-0"}, {-1.6, "-2"}, {1e20, "100000000000000000000"},
    };
    for (const auto& [value, text] : cases) EXPECT_EQ(whole_number_text(value), text) << value;
}

TEST(BodyJson, ExactlyOneTextOrNull) {
    std::string deep_ok = std::string(128, '[') + std::string(128, ']');
    std::string too_deep = std::string(129, '[') + std::string(129, ']');
    std::string mixed_ok = "{\"a\":" + std::string(127, '[') + std::string(127, ']') + "}";
    const std::pair<std::string, bool> cases[] = {
        {"{}", true},
        {" \t\r\n{\"a\":1} \n", true},
        {deep_ok, true},
        {mixed_ok, true},
        {too_deep, false},
        {"", false},
        {" ", false},
        {"{} x", false},
        {"{}{}", false},
        {std::string("{}\0", 3), false},
        {std::string("{\"a\":\"b\0\"}", 10), false},
        {"\xEF\xBB\xBF{}", false},  // byte order mark
        {"\f{}", false},
        {"{\"a\":1,}", false},
        {"// note\n{}", false},
        {"'a'", false},
        {"01", false},
        {"1.", false},
        {"1e400", false},
        {"-1e400", false},
        {"NaN", false},
        {"\"\xFF\"", false},
        {"\"caf\xE9\"", false},
        {"\"\xC0\xAF\"", false},
        {"\"\\ud800\"", false},
        {"\"\\ud83d\\ude00\"", true},
        {"\"tab\there\"", false},
        {"<html>error</html>", false},
    };
    for (const auto& [body, valid] : cases) {
        EXPECT_EQ(!body_json(body).is_null(), valid) << testing::PrintToString(body);
    }
    EXPECT_EQ(body_json("null"), JsonValue(nullptr));
    EXPECT_EQ(json_text(body_json(R"({"a":1,"a":2})")), R"({"a":2})");
}

TEST(JsonMember, MissingOrNotAnObjectIsNull) {
    JsonValue value = body_json(R"({"sweep":{"focus":87},"list":[1]})");
    EXPECT_EQ(json_text(json_member(json_member(value, "sweep"), "focus")), "87");
    EXPECT_TRUE(json_member(value, "nothing").is_null());
    EXPECT_TRUE(json_member(json_member(value, "list"), "focus").is_null());
    EXPECT_TRUE(json_member(JsonValue("text"), "focus").is_null());
    EXPECT_EQ(json_string_or(json_member(value, "sweep"), "?"), "?");
    EXPECT_EQ(json_int64(body_json("9223372036854775807")), INT64_MAX);
    EXPECT_EQ(json_int64(body_json("9223372036854775808")), std::nullopt);
    EXPECT_EQ(json_int64(body_json("-4")), -4);
    EXPECT_EQ(json_int64(body_json("4.0")), std::nullopt);
}
