#pragma once
// What vistrel prints, and its two ways out.
#include <string_view>
#include <utility>

#include "client/json.h"
#include "client/result.h"

// Appends to standard output, which is written when the process ends.
void print(std::string_view text);

// Writes to standard error at once.
void print_error(std::string_view text);

// "error: {message}" on standard error, standard output flushed, exit status 1.
[[noreturn]] void fail(std::string_view message);

// Flushes standard output and ends the process with `status`. A standard
// output that cannot take the text turns success into exit status 1.
[[noreturn]] void finish(int status);

// The value of a result, or the end of the process through `fail`.
template <typename T>
T or_fail(Result<T> result) {
    if (!result) fail(result.error().message);
    return std::move(result).value();
}

// The pretty form and a line break on standard output.
void print_json(const JsonValue& value);

// With --json, prints the app's reply in the pretty form and says so; the
// command then prints nothing else.
bool print_json_if_asked(const JsonValue& reply);
