#pragma once
// The program's two ways out, and its standard output.
#include <string_view>

// Appends to standard output, which is written when the process ends.
void print(std::string_view text);

// Writes to standard error at once.
void print_error(std::string_view text);

// "error: {message}" on standard error, standard output flushed, exit status 1.
[[noreturn]] void fail(std::string_view message);

// Flushes standard output and ends the process with `status`. A standard
// output that cannot take the text turns success into exit status 1.
[[noreturn]] void finish(int status);
