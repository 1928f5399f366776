#pragma once
// Files that must not replace anything: a file is created only when nothing
// is at its path yet. The bytes go in with `write_all` (platform/system.h)
// as they come; a file that cannot be completed is removed, so that no half
// written file is left under a name a reader could take for a whole one.
// One implementation per platform: new_file_posix.cpp, new_file_win32.cpp.
#include <optional>
#include <string>

#include "platform/io_error.h"
#include "platform/system.h"

struct NewFile {
    FileHandle handle = -1;  // -1 once closed
    std::string path;        // UTF-8, as created
};

struct NewFileResult {
    NewFile file;
    std::optional<IoError> error;
    bool exists = false;  // the name was taken: nothing was created
};

// Creates the file at `path` (UTF-8), open for writing. No folder is created.
NewFileResult create_new_file(const std::string& path);

// Closes the file. A failing close can be the only sign that the bytes did
// not reach the disk; the file is then removed.
std::optional<IoError> finish_new_file(NewFile& file);

// Closes the file when it is still open and removes it.
void remove_new_file(NewFile& file);
