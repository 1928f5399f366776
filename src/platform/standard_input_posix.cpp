#include <cerrno>
#include <unistd.h>

#include "platform/standard_input.h"

void set_binary_standard_streams() {}

InputRead read_standard_input(char* buffer, std::size_t size) {
    for (;;) {
        ssize_t got = read(STDIN_FILENO, buffer, size);
        if (got >= 0) return {static_cast<std::size_t>(got), std::nullopt};
        if (errno != EINTR) return {0, os_error(errno)};
    }
}
