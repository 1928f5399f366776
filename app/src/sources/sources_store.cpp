#include "sources/sources_store.h"

#include "platform/files.h"
#include "sources/http_url.h"

#include <chrono>
#include <cstring>
#include <nlohmann/json.hpp>

namespace fs = std::filesystem;
using nlohmann::json;

std::string sources_to_text(const std::vector<NetSource>& sources) {
    json list = json::array();
    for (const auto& source : sources) list.push_back({{"name", source.name}, {"url", source.url}});
    return json{{"sources", list}}.dump(2) + "\n";
}

std::vector<NetSource> sources_from_text(const std::string& text) {
    json value = json::parse(text, nullptr, /*allow_exceptions=*/false);
    if (value.is_discarded()) throw SourcesUnreadable("it is not valid JSON");
    if (!value.is_object() || !value.contains("sources") || !value["sources"].is_array()) {
        throw SourcesUnreadable("it has no \"sources\" list");
    }
    std::vector<NetSource> sources;
    for (const auto& entry : value["sources"]) {
        if (!entry.is_object() || !entry.contains("name") || !entry["name"].is_string() || !entry.contains("url") ||
            !entry["url"].is_string()) {
            throw SourcesUnreadable("an entry lacks a \"name\" or \"url\" string");
        }
        sources.push_back({entry["name"].get<std::string>(), entry["url"].get<std::string>()});
    }
    return sources;
}

std::vector<NetSource> load_sources(const fs::path& file) {
    // Far more than max_sources entries can take: not a file this app wrote.
    FileRead read = read_small_file(file, 4 * 1024 * 1024);
    switch (read.status) {
        case FileRead::Status::missing:
            return {};
        case FileRead::Status::too_large:
            throw SourcesUnreadable("it is too large");
        case FileRead::Status::failed:
            if (read.exhausted) throw SourcesExhausted("cannot read " + file.string() + ": " + read.reason);
            throw SourcesUnreadable(read.reason);
        case FileRead::Status::ok:
            break;
    }
    return sources_from_text(read.text);
}

namespace {
void make_folder(const fs::path& folder) {
    try {
        make_private_folder(folder);
    } catch (const fs::filesystem_error& e) {
        throw SourcesFileError("cannot create " + e.path1().string() + ": " + e.code().message());
    }
}

// A failed step on the file, told apart where the caller answers
// differently.
[[noreturn]] void fail(const FileError& e) {
    switch (e.problem) {
        case FileProblem::exhausted:
            throw SourcesExhausted(e.what());
        case FileProblem::held:
            throw SourcesLocked(e.what());
        case FileProblem::failed:
            break;
    }
    throw SourcesFileError(e.what());
}

// The lock every app sharing the folder takes around a read-modify-write.
FileLock sources_lock(const fs::path& file, std::chrono::steady_clock::time_point deadline) {
    try {
        return FileLock(file.parent_path() / (file.filename().string() + ".lock"), deadline);
    } catch (const FileError& e) {
        fail(e);
    }
}

// The caller holds the lock, so no other app is between creating and
// renaming a temporary file: every one there is a leftover.
void remove_temp_files_locked(const fs::path& file) {
    std::string prefix = atomic_temp_prefix(file);
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(file.parent_path(), error)) {
        if (entry.path().filename().string().rfind(prefix, 0) == 0) {
            std::error_code ignored;
            fs::remove(entry.path(), ignored);
        }
    }
}
}  // namespace

void save_sources(const fs::path& file, const std::vector<NetSource>& sources) {
    try {
        write_file_atomically(file, sources_to_text(sources));
    } catch (const FileError& e) {
        fail(e);
    }
}

void update_sources(const fs::path& file, const std::function<bool(std::vector<NetSource>&)>& change,
                    std::chrono::steady_clock::time_point deadline) {
    make_folder(file.parent_path());
    FileLock lock = sources_lock(file, deadline);
    std::vector<NetSource> sources = load_sources(file);
    if (!change(sources)) return;
    remove_temp_files_locked(file);
    save_sources(file, sources);
}

void remove_leftover_temp_files(const fs::path& file) {
    std::error_code error;
    if (!fs::is_directory(file.parent_path(), error)) return;
    FileLock lock = sources_lock(file, std::chrono::steady_clock::now() + sources_lock_wait);
    remove_temp_files_locked(file);
}

std::optional<std::string> source_name_problem(std::string_view name) {
    if (name.empty()) return "a source name cannot be empty";
    if (name.size() > max_source_name_bytes) {
        return "a source name is at most " + std::to_string(max_source_name_bytes) + " bytes long";
    }
    if (name.front() == ' ' || name.back() == ' ') return "a source name cannot begin or end with a space";
    for (char c : name) {
        auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7f) return "a source name cannot hold control characters";
        if (std::strchr("&#%+?=", c)) {
            std::string problem = "a source name cannot hold \"";
            problem.push_back(c);
            problem.append("\" (it would break the --device query); use letters, digits, spaces, - or _");
            return problem;
        }
    }
    return std::nullopt;
}

std::optional<std::string> source_url_problem(std::string_view url) {
    if (url.size() > max_source_url_bytes) {
        return "a source URL is at most " + std::to_string(max_source_url_bytes) + " bytes long";
    }
    if (!parse_http_url(url)) {
        return "not a usable camera URL: \"" + std::string(url) +
               "\"; give an http:// address such as http://192.168.1.50:8080/shot.jpg";
    }
    return std::nullopt;
}
