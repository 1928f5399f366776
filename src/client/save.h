#pragma once
// Saving the body of a reply to a file.
#include <cstdint>
#include <string>
#include <string_view>

#include "client/endpoints.h"

// What was saved: the path exactly as given and the number of bytes.
struct SavedFile {
    std::string path;
    std::uint64_t bytes = 0;
};

// {"bytes":…,"path":…}
JsonValue saved_json(const SavedFile& saved);

// "cannot write {path}: {reason}"
Failure write_failure(std::string_view path, const IoError& error);

// Sends the request and writes the body of a successful reply to `path`; a
// refusal writes nothing and gives the app's "error" or the request's fallback.
Result<SavedFile> save_reply(const AppLink& app, const ApiRequest& request, const std::string& path);
