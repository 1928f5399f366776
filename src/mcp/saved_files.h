#pragma once
// Files the tools write: pictures at a path the caller names and recordings
// under new names. Neither ever replaces a file that is already there.
#include <string>
#include <string_view>

#include "client/save.h"

// Writes `data` to a new file at `path` (relative: to the current folder).
// The SavedFile names it by its absolute path; a failure says "cannot write
// {path}: {reason}".
Result<SavedFile> store_new_file(const std::string& path, std::string_view data);

// Writes `data` to a new file in `folder` named "{stem}-{local date and time}"
// with ".{extension}", a number added when that name is taken.
Result<SavedFile> store_in_folder(const std::string& folder, const std::string& stem, const std::string& extension,
                                  std::string_view data);

// The user's folder for temporary files, UTF-8.
std::string temporary_folder();

// `path` made absolute against the current folder.
std::string absolute_path(const std::string& path);

// A file: URI for an absolute path; bytes outside the unreserved set are
// percent-encoded.
std::string file_uri(const std::string& absolute);
