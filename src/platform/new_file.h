#pragma once
// Writing a file that must not replace anything: the file is created only
// when nothing is at its path yet. One implementation per platform:
// new_file_posix.cpp, new_file_win32.cpp.
#include <optional>
#include <string>
#include <string_view>

#include "platform/io_error.h"

struct NewFileResult {
    std::optional<IoError> error;
    bool exists = false;  // the name was taken: nothing was written
};

// Creates the file at `path` (UTF-8) and writes `bytes`; a file left half
// written is removed. No folder is created.
NewFileResult write_new_file(const std::string& path, std::string_view bytes);
