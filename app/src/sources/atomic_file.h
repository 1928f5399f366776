#pragma once
// Files in the config folder replaced whole: a temporary file beside the old
// one, flushed to disk and renamed over it, so that a stop at any moment
// leaves either the old or the new contents, never half of them.
#include <filesystem>
#include <stdexcept>
#include <string>

struct AtomicWriteError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Creates the folder when missing (0700); the file is readable by this user
// only.
// Throws AtomicWriteError ("cannot write PATH: REASON") when a step fails.
void write_file_atomically(const std::filesystem::path& file, const std::string& text);
