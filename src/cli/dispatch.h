#pragma once
#include <string>
#include <vector>

// Runs one command for the process arguments (UTF-8, program name first)
// and ends the process with its exit status.
[[noreturn]] void run_vistrel(std::vector<std::string> arguments);
