#pragma once
// Standard input and output as the bytes of the protocol, with no line-end
// translation on any platform.
#include <cstddef>
#include <optional>

#include "platform/io_error.h"

void set_binary_standard_streams();

struct InputRead {
    std::size_t bytes = 0;  // 0: the end of input
    std::optional<IoError> error;
};
InputRead read_standard_input(char* buffer, std::size_t size);
