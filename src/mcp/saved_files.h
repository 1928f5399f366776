#pragma once
// Files the tools write: pictures at a path the caller names and recordings
// under new names. Neither ever replaces a file that is already there.
#include <cstdint>
#include <optional>
#include <string>

#include "client/http.h"
#include "platform/io_error.h"

struct StoredFile {
    std::string path;  // absolute, UTF-8
    std::uint64_t bytes = 0;
};

struct StoreResult {
    StoredFile file;
    std::optional<std::string> failure;  // "cannot write {path}: {reason}"
};

// Writes `data` to a new file at `path` (relative: to the current folder).
StoreResult store_new_file(const std::string& path, const BodyBytes& data);

// Writes `data` to a new file in `folder` named "{stem}-{local date and time}"
// with ".{extension}", a number added when that name is taken.
StoreResult store_in_folder(const std::string& folder, const std::string& stem, const std::string& extension,
                            const BodyBytes& data);

// The user's folder for temporary files, UTF-8.
std::string temporary_folder();

// `path` made absolute against the current folder.
std::string absolute_path(const std::string& path);

// A file: URI for an absolute path; bytes outside the unreserved set are
// percent-encoded.
std::string file_uri(const std::string& absolute);

// Creates the file only when nothing is at `path` yet, and writes the pieces;
// a file left half written is removed. `exists` tells that the name was taken.
struct NewFileResult {
    std::optional<IoError> error;
    bool exists = false;
};
NewFileResult write_new_file(const std::string& path, const std::vector<std::string_view>& pieces);
