#pragma once
// Cuts the bytes of standard input into lines.
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

class LineReader {
public:
    // `on_line` gets each line without its line feed; `on_too_long` is told
    // of a line longer than `max_line`, whose bytes are dropped.
    LineReader(std::size_t max_line, std::function<void(std::string_view)> on_line,
               std::function<void()> on_too_long);

    void feed(std::string_view bytes);
    // The end of input: a last line without a line feed still counts.
    void end();

private:
    std::size_t max_line_;
    std::function<void(std::string_view)> on_line_;
    std::function<void()> on_too_long_;
    std::string pending_;
    bool dropping_ = false;
};
