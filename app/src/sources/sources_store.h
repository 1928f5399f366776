#pragma once
// The registered network cameras (phones, IP cameras), kept in
// sources.json in the config folder. The file is read afresh for every
// request and replaced whole and atomically on every change, so that the app
// can stop at any moment without losing or half-writing the list. Every
// change is a read-modify-write under a lock on sources.json.lock beside it
// (flock), which every app sharing the folder, and every request within an
// app, takes, so that no change is lost when two change the list at once.
#include <chrono>
#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

inline constexpr std::size_t max_sources = 100;
inline constexpr std::size_t max_source_name_bytes = 64;
inline constexpr std::size_t max_source_url_bytes = 2048;

struct NetSource {
    std::string name;
    std::string url;
};

// How long a change waits for the lock at most. Another app holds it for
// milliseconds; one that holds it for seconds is stuck.
inline constexpr std::chrono::milliseconds sources_lock_wait{5000};

struct SourcesStore {
    std::filesystem::path file;  // .../vistrel/sources.json
    // From the request's arrival: the lock is the only thing a change waits
    // for, so that requests waiting for it wait side by side, not in turn.
    std::chrono::milliseconds lock_wait = sources_lock_wait;
};

// The file cannot be written, or locked.
struct SourcesFileError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The file is there but cannot be read or is not a sources list.
struct SourcesUnreadable : SourcesFileError {
    using SourcesFileError::SourcesFileError;
};

// Another program held the lock past the deadline.
struct SourcesLocked : SourcesFileError {
    using SourcesFileError::SourcesFileError;
};

// The app is out of descriptors or memory: the file itself may be fine.
struct SourcesExhausted : SourcesFileError {
    using SourcesFileError::SourcesFileError;
};

std::string sources_to_text(const std::vector<NetSource>& sources);
std::vector<NetSource> sources_from_text(const std::string& text);  // throws SourcesUnreadable

// A missing file is an empty list. Throws SourcesUnreadable, or
// SourcesExhausted.
std::vector<NetSource> load_sources(const std::filesystem::path& file);
// Writes a temporary file beside it, flushes it to disk and renames it over
// the old one. Throws SourcesFileError when any step fails. The caller holds
// the lock (see update_sources).
void save_sources(const std::filesystem::path& file, const std::vector<NetSource>& sources);

// Loads the list, lets `change` edit it and saves it, all under the lock,
// waited for until `deadline` at most; nothing is saved when `change`
// returns false or throws. Makes the folder (0700) when there is none.
// Throws SourcesFileError (SourcesLocked when the lock was not had in time),
// and whatever `change` throws.
void update_sources(const std::filesystem::path& file, const std::function<bool(std::vector<NetSource>&)>& change,
                    std::chrono::steady_clock::time_point deadline = std::chrono::steady_clock::now() +
                                                                     sources_lock_wait);

// Under the lock, removes the temporary files that an app killed while
// saving left beside the file. Nothing happens when the folder is missing.
void remove_leftover_temp_files(const std::filesystem::path& file);

// Why a name or URL cannot be registered, or nullopt when it can. Names travel
// unencoded in query strings, so the characters that would split or change a
// query are refused; a space is fine.
std::optional<std::string> source_name_problem(std::string_view name);
std::optional<std::string> source_url_problem(std::string_view url);
