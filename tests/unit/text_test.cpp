#include <gtest/gtest.h>

#include "client/text.h"

TEST(Utf8, WellFormedOnly) {
    const std::pair<std::string, bool> cases[] = {
        {"", true},
        {"plain", true},
        {"caf\xC3\xA9 \xE2\x80\x94 \xF0\x9F\x98\x80", true},
        {"\xFF", false},
        {"caf\xE9", false},              // Latin-1
        {"\xC0\xAF", false},             // overlong
        {"\xE0\x80\xAF", false},         // overlong
        {"\xED\xA0\x80", false},         // surrogate
        {"\xF4\x90\x80\x80", false},     // above U+10FFFF
        {"\xE2\x80", false},             // cut short
        {"\xC3\xA9\x80", false},         // stray continuation
        {std::string("a\0b", 3), true},  // NUL is a character
    };
    for (const auto& [text, valid] : cases) EXPECT_EQ(is_valid_utf8(text), valid) << text;
}

TEST(Padding, CountsCharactersAndNeverCuts) {
    EXPECT_EQ(pad_left("0", 3), "  0");
    EXPECT_EQ(pad_left("screen", 3), "screen");
    EXPECT_EQ(pad_right("focus", 14), "focus         ");
    EXPECT_EQ(pad_right("Caméra", 8), "Caméra  ");
    EXPECT_EQ(pad_right("日本語", 5), "日本語  ");
    EXPECT_EQ(pad_right("", 2), "  ");
}

TEST(WhiteSpace, FieldsSplitAtUnicodeWhiteSpace) {
    using Fields = std::vector<std::string_view>;
    EXPECT_EQ(white_space_fields("HTTP/1.1 404 Not Found\r\n"), (Fields{"HTTP/1.1", "404", "Not", "Found"}));
    EXPECT_EQ(white_space_fields("  \tHTTP/1.1   200\n"), (Fields{"HTTP/1.1", "200"}));
    EXPECT_EQ(white_space_fields("a\u3000b\u00A0c\u2028d\u0085e\vf\fg"), (Fields{"a", "b", "c", "d", "e", "f", "g"}));
    EXPECT_EQ(white_space_fields("a\u200Bb"), (Fields{"a\u200Bb"}));  // zero-width space is not white space
    EXPECT_TRUE(white_space_fields(" \r\n").empty());
    EXPECT_EQ(trim_white_space(" \t x y \u3000\r\n"), "x y");
    EXPECT_EQ(trim_white_space("\u00A0\r\n"), "");
}
