#pragma once
// Standard input read as it comes, and the standard streams as raw bytes
// with no line-end translation on any platform (vistrel-mcp's protocol).
// One implementation per platform: standard_input_posix.cpp,
// standard_input_win32.cpp.
#include <cstddef>
#include <optional>

#include "platform/io_error.h"

void set_binary_standard_streams();

struct InputRead {
    std::size_t bytes = 0;  // 0: the end of input
    std::optional<IoError> error;
};
// Blocks until some input has come, it has ended or reading failed.
InputRead read_standard_input(char* buffer, std::size_t size);
