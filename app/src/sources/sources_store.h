#pragma once
// The registered network cameras (phones, IP cameras), kept in
// sources.json in the config folder. The file is read afresh for every
// request and replaced whole and atomically on every change, so that the app
// can stop at any moment without losing or half-writing the list.
#include <filesystem>
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
    std::mutex mutex;            // one read-modify-write at a time
};

// The file is there but cannot be read or is not a sources list.
struct SourcesFileError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

std::string sources_to_text(const std::vector<NetSource>& sources);
std::vector<NetSource> sources_from_text(const std::string& text);  // throws SourcesFileError

// A missing file is an empty list.
std::vector<NetSource> load_sources(const std::filesystem::path& file);
// Writes a temporary file beside it, flushes it to disk and renames it over
// the old one. Throws SourcesFileError when any step fails.
void save_sources(const std::filesystem::path& file, const std::vector<NetSource>& sources);

// Why a name or URL cannot be registered, or nullopt when it can. Names travel
// unencoded in query strings, so the characters that would split or change a
// query are refused; a space is fine.
std::optional<std::string> source_name_problem(std::string_view name);
std::optional<std::string> source_url_problem(std::string_view url);
