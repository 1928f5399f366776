#pragma once
// Files the tools write: pictures at a path the caller names, recordings and
// pictures too large to show under names of their own. None ever replaces a
// file that is already there, and none is left half written.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "client/http.h"
#include "client/save.h"
#include "platform/new_file.h"

// Where a new file goes: exactly at `path` (relative: to the current
// folder) when it is given; else in `folder` under the name
// "{stem}-{local date and time}.{extension}", a number added to the name
// when it is taken.
struct NewFilePlace {
    std::optional<std::string> path;
    std::string folder;
    std::string stem;
    std::string extension;
};

NewFilePlace exact_path(const std::string& path);
NewFilePlace fresh_name(const std::string& folder, const std::string& stem, const std::string& extension);

// A reply body on its way to a new file, written as it arrives, so that a
// recording of minutes is never held in memory. The file is created with
// the first bytes (by `finish` for an empty body): a request the app
// refuses leaves nothing behind. A file that is not finished is removed
// when the sink goes.
class NewFileSink final : public BodySink {
public:
    explicit NewFileSink(NewFilePlace place) : place_(std::move(place)) {}
    ~NewFileSink();
    NewFileSink(const NewFileSink&) = delete;
    NewFileSink& operator=(const NewFileSink&) = delete;

    // After the first failure (the name is taken, the disk is full) the file
    // is removed and the rest dropped; `finish` says why.
    void take(std::string_view bytes) override;

    // Creates the file now, before any byte has come, so that its name is
    // known at once (and a path that is taken fails at once): its absolute
    // path, or why it cannot be created.
    Result<std::string> create_now();

    // Once the whole body has come: closes the file and names it by its
    // absolute path, or says "cannot write {path}: {reason}" (and the file
    // is gone).
    Result<SavedFile> finish();

private:
    bool create();
    void fail(const std::string& path, const IoError& error);

    NewFilePlace place_;
    std::optional<NewFile> file_;  // created and not finished
    std::optional<Failure> failure_;
    std::uint64_t bytes_ = 0;
};

// `data` from memory into a new file.
Result<SavedFile> save_new_file(NewFilePlace place, std::string_view data);

// The user's folder for temporary files, UTF-8.
std::string temporary_folder();

// `path` made absolute against the current folder.
std::string absolute_path(const std::string& path);

// A file: URI for an absolute path; bytes outside the unreserved set are
// percent-encoded.
std::string file_uri(const std::string& absolute);
