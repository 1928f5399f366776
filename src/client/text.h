#pragma once
// Small text rules shared by every part of the program.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// Well-formed UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool is_valid_utf8(std::string_view text);

// Characters (Unicode scalar values) in valid UTF-8 text.
std::size_t character_count(std::string_view text);

// Field widths count characters, fill with spaces and never cut longer text.
std::string pad_left(std::string_view text, std::size_t width);
std::string pad_right(std::string_view text, std::size_t width);

// Fields of valid UTF-8 text split at runs of Unicode white space
// (the White_Space property), empty fields dropped.
std::vector<std::string_view> white_space_fields(std::string_view text);

// The text with Unicode white space removed from both ends.
std::string_view trim_white_space(std::string_view text);
