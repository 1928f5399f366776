#pragma once
// Saving the body of a reply to a file, as it arrives, without ever losing
// the file it replaces: see platform/output_file.h for how each kind of
// target is written.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "client/endpoints.h"
#include "platform/output_file.h"

// What was saved: the path exactly as given and the number of bytes.
struct SavedFile {
    std::string path;
    std::uint64_t bytes = 0;
};

// {"bytes":…,"path":…}
JsonValue saved_json(const SavedFile& saved);

// "cannot write {path}: {reason}"
Failure write_failure(std::string_view path, const IoError& error);

// An output on its way to `path`: not opened yet, or opened by `open_output`.
// What it has written is thrown away when it goes unfinished.
struct OutputFile {
    std::string path;  // as given; messages and the SavedFile use it as it is
    std::optional<OpenOutput> open;

    explicit OutputFile(std::string output_path) : path(std::move(output_path)) {}
    OutputFile(OutputFile&& other) noexcept : path(std::move(other.path)), open(std::move(other.open)) {
        other.open.reset();
    }
    OutputFile& operator=(OutputFile&&) = delete;
    ~OutputFile() {
        if (open) abandon_output_file(*open);
    }
};

// Opens the output before the request is made, so that a path that cannot be
// written fails before the app does any work ("cannot write {path}: {reason}").
// Nothing that exists is changed until a reply succeeds.
Result<OutputFile> open_output(const std::string& path);

// Sends the request and streams the body of a successful reply into the
// output, which replaces `path` only once the whole reply has come. A
// refusal gives the app's "error" or the request's fallback; an exchange
// that fails, the unreachable message; either leaves `path` as it was.
// When the output cannot be opened or written, the rest of the reply is
// still read: an exchange that then fails gives the unreachable message,
// one that completes "cannot write {path}: {reason}".
Result<SavedFile> save_reply(const AppLink& app, const ApiRequest& request, OutputFile output);
inline Result<SavedFile> save_reply(const AppLink& app, const ApiRequest& request, const std::string& path) {
    return save_reply(app, request, OutputFile(path));
}
