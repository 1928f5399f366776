#include <gtest/gtest.h>

#include "commands/commands.h"

TEST(WholeNumber, SignedDecimalOnly) {
    const std::pair<std::string, std::optional<std::int64_t>> cases[] = {
        {"60", 60},
        {"+60", 60},
        {"-5", -5},
        {"007", 7},
        {"-0", 0},
        {"9223372036854775807", INT64_MAX},
        {"-9223372036854775808", INT64_MIN},
        {"000000000000000000000009223372036854775807", INT64_MAX},
        {"9223372036854775808", std::nullopt},
        {"-9223372036854775809", std::nullopt},
        {"99999999999999999999999", std::nullopt},
        {"+", std::nullopt},
        {"-", std::nullopt},
        {"", std::nullopt},
        {"6.0", std::nullopt},
        {"1e3", std::nullopt},
        {"0x10", std::nullopt},
        {" 60", std::nullopt},
        {"60 ", std::nullopt},
        {"+-5", std::nullopt},
        {"--5", std::nullopt},
        {"\xD9\xA3", std::nullopt},  // ARABIC-INDIC DIGIT THREE
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(parse_whole_number(text), expected) << text;
}

TEST(Seconds, UnsignedThirtyTwoBit) {
    const std::pair<std::string, std::optional<std::uint32_t>> cases[] = {
        {"10", 10},           {"+7", 7},          {"007", 7},
        {"0", 0},             {"500", 500},       {"4294967295", 4294967295u},
        {"4294967296", std::nullopt}, {"-1", std::nullopt}, {"1.5", std::nullopt},
        {"5s", std::nullopt}, {"", std::nullopt}, {"+", std::nullopt},
        {"-", std::nullopt},  {" 5", std::nullopt}, {"++5", std::nullopt},
    };
    for (const auto& [text, expected] : cases) EXPECT_EQ(parse_seconds(text), expected) << text;
}

TEST(FocusChart, ScaleBarsAndOrder) {
    struct Case {
        const char* reply;
        const char* text;
    };
    const Case cases[] = {
        {R"({"sweep":{"focus":87,"sharpness":1234.6,"samples":[
             {"focus":120,"sharpness":600},{"focus":40,"sharpness":1234.6},{"focus":80,"sharpness":300}]}})",
         "locked focus 87 \u00b7 sharpness 1235 \u00b7 3 samples\n"
         "     40 ##############################################\n"
         "     80 ###########\n"
         "    120 ######################\n"},
        // The scale never drops below 1.0.
        {R"({"sweep":{"focus":1,"sharpness":0.5,"samples":[{"focus":1,"sharpness":0.5},{"focus":2,"sharpness":0.25}]}})",
         "locked focus 1 \u00b7 sharpness 0 \u00b7 2 samples\n"
         "      1 #######################\n"
         "      2 ###########\n"},
        {"{}", "locked focus null \u00b7 sharpness 0 \u00b7 0 samples\n"},
        {"null", "locked focus null \u00b7 sharpness 0 \u00b7 0 samples\n"},
        // Equal keys keep their order; keys that are not 64-bit integers sort as 0.
        {R"({"sweep":{"focus":"x","sharpness":"high","samples":[
             {"focus":5,"sharpness":2},{"focus":60.0,"sharpness":1},{"focus":5,"sharpness":1},
             {"focus":-3},{"focus":9223372036854775808,"sharpness":2},{"sharpness":-4}]}})",
         "locked focus \"x\" \u00b7 sharpness 0 \u00b7 6 samples\n"
         "     -3 \n"
         "   60.0 #######################\n"
         "  9223372036854775808 ##############################################\n"
         "   null \n"
         "      5 ##############################################\n"
         "      5 #######################\n"},
        {R"({"sweep":{"focus":3,"sharpness":2.5,"samples":{"focus":1}}})",
         "locked focus 3 \u00b7 sharpness 2 \u00b7 0 samples\n"},
    };
    for (const Case& c : cases) EXPECT_EQ(focus_chart(JsonValue::parse(c.reply)), c.text) << c.reply;
}
