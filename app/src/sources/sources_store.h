#pragma once
// The registered network cameras (phones, IP cameras), kept in
// sources.json in the config folder. The file is read afresh for every
// request and replaced whole and atomically on every change, so that the app
// can stop at any moment without losing or half-writing the list. Every
// change is a read-modify-write under a lock on sources.json.lock beside it
// (flock), which every app sharing the folder takes, so that no change is
// lost when two apps change the list at once.
#include <filesystem>
#include <functional>
#include <mutex>
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

struct SourcesStore {
    std::filesystem::path file;  // .../vistrel/sources.json
    std::mutex mutex;            // one read-modify-write at a time in this app
};

// The file cannot be written, or locked.
struct SourcesFileError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The file is there but cannot be read or is not a sources list.
struct SourcesUnreadable : SourcesFileError {
    using SourcesFileError::SourcesFileError;
};

std::string sources_to_text(const std::vector<NetSource>& sources);
std::vector<NetSource> sources_from_text(const std::string& text);  // throws SourcesUnreadable

// A missing file is an empty list. Throws SourcesUnreadable.
std::vector<NetSource> load_sources(const std::filesystem::path& file);
// Writes a temporary file beside it, flushes it to disk and renames it over
// the old one. Throws SourcesFileError when any step fails. The caller holds
// the lock (see update_sources).
void save_sources(const std::filesystem::path& file, const std::vector<NetSource>& sources);

// Loads the list, lets `change` edit it and saves it, all under the lock;
// nothing is saved when `change` returns false or throws. Makes the folder
// (0700) when there is none. Throws SourcesFileError, and whatever `change`
// throws.
void update_sources(const std::filesystem::path& file, const std::function<bool(std::vector<NetSource>&)>& change);

// Under the lock, removes the temporary files that an app killed while
// saving left beside the file. Nothing happens when the folder is missing.
void remove_leftover_temp_files(const std::filesystem::path& file);

// Why a name or URL cannot be registered, or nullopt when it can. Names travel
// unencoded in query strings, so the characters that would split or change a
// query are refused; a space is fine.
std::optional<std::string> source_name_problem(std::string_view name);
std::optional<std::string> source_url_problem(std::string_view url);
