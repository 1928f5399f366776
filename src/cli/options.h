#pragma once
// The process arguments and the lookups that read them. Nothing is parsed up
// front: every lookup scans the arguments afresh when a command asks.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "client/api.h"

// Stores the process arguments (UTF-8, program name first) and builds the
// positional arguments from them. Called once at the entry.
void set_arguments(std::vector<std::string> arguments);
const std::vector<std::string>& arguments();

// Every argument after the program name that does not begin with "--".
const std::vector<std::string>& positionals();

// The entry of `positionals` at `index`, or empty text past the end.
std::string positional(std::size_t index);

// "--NAME=VALUE" anywhere wins; else the argument after the first "--NAME",
// unless that one begins with "--".
std::optional<std::string> option_value(std::string_view name);

// True when some argument is exactly "--NAME".
bool has_flag(std::string_view name);

// "&width={}&height={}" from --size WxH, empty without --size. A size
// without "x" or "X" ends the process.
std::string size_query();

// "&device={}" from --device, empty without it.
std::string device_query();

// The app as --port names it.
AppLink app_link();

// The --out path, or `default_name` without it.
std::string output_path(std::string_view default_name);
