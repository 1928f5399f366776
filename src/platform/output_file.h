#pragma once
// Writing an output file so that the file it replaces is never lost.
//
// A regular file, or one that does not exist yet, is written to a new hidden
// temporary file in the same folder, which takes the target's place only
// once it is complete; a target reached through a symbolic link is replaced
// where the link points. Everything else is written in place, as the bytes
// come: a device or a pipe, a file with more than one hard link, a file
// whose folder cannot take a new file or cannot rename over it. A target
// that exists but cannot be written is refused as when it is written in place.
//
// One implementation per platform: output_file_posix.cpp, output_file_win32.cpp.
#include <optional>
#include <string>
#include <string_view>

#include "platform/io_error.h"
#include "platform/system.h"

struct OpenOutput {
    FileHandle handle = -1;
    // The hidden file being written; empty when the target is written in place.
    std::string temporary;
    // What the temporary file replaces: the path, or where its links lead.
    std::string target;
    bool created = false;   // in place: the file did not exist before
    bool truncate = false;  // in place: a regular file, emptied by start_output
};

struct OpenOutputResult {
    OpenOutput output;
    std::optional<IoError> error;
};

// Decides how `path` (UTF-8) is written and opens it. Nothing that exists is
// changed yet. No folder is created.
OpenOutputResult open_output_file(const std::string& path);

// Empties a regular file written in place; called once the bytes to write
// are known to come.
std::optional<IoError> start_output_file(OpenOutput& output);

// Writes every byte or returns the reason it could not.
std::optional<IoError> write_output_file(OpenOutput& output, std::string_view bytes);

// Closes the output and puts a temporary file in the target's place.
std::optional<IoError> finish_output_file(OpenOutput& output);

// Closes the output and removes what it left: the temporary file, or a file
// created in place. The file it was to replace stays as it was.
void abandon_output_file(OpenOutput& output);
