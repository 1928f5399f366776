#include "mcp/saved_files.h"

#include <ctime>
#include <filesystem>

namespace {
std::filesystem::path fs_path(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string utf8_text(const std::filesystem::path& path) {
    std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

std::string local_time_stamp() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local);
    return text;
}
}  // namespace

std::string absolute_path(const std::string& path) {
    std::error_code error;
    std::filesystem::path full = std::filesystem::absolute(fs_path(path), error);
    return error ? path : utf8_text(full.lexically_normal());
}

std::string temporary_folder() {
    std::error_code error;
    std::filesystem::path folder = std::filesystem::temp_directory_path(error);
#ifdef _WIN32
    if (error) return ".";
#else
    if (error) return "/tmp";
#endif
    return utf8_text(folder);
}

NewFilePlace exact_path(const std::string& path) {
    return NewFilePlace{path, {}, {}, {}};
}

NewFilePlace fresh_name(const std::string& folder, const std::string& stem, const std::string& extension) {
    return NewFilePlace{std::nullopt, folder, stem, extension};
}

NewFileSink::~NewFileSink() {
    if (file_) remove_new_file(*file_);
}

void NewFileSink::fail(const std::string& path, const IoError& error) {
    failure_ = write_failure(path, error);
    if (file_) remove_new_file(*file_);
    file_.reset();
}

bool NewFileSink::create() {
    if (place_.path) {
        std::string full = absolute_path(*place_.path);
        NewFileResult created = create_new_file(full);
        if (created.error) {
            fail(full, *created.error);
            return false;
        }
        file_ = std::move(created.file);
        return true;
    }
    std::string base =
        utf8_text(fs_path(absolute_path(place_.folder)) / fs_path(place_.stem + "-" + local_time_stamp()));
    for (int number = 1;; ++number) {
        std::string path = base;
        if (number > 1) path.append("-").append(std::to_string(number));
        path.append(".").append(place_.extension);
        NewFileResult created = create_new_file(path);
        // A name taken since the first try is passed over; after a thousand
        // something else is wrong, and the last reason is reported.
        if (created.exists && number < 1000) continue;
        if (created.error) {
            fail(path, *created.error);
            return false;
        }
        file_ = std::move(created.file);
        return true;
    }
}

void NewFileSink::take(std::string_view bytes) {
    if (failure_ || bytes.empty()) return;
    if (!file_ && !create()) return;
    if (std::optional<IoError> error = write_all(file_->handle, bytes)) return fail(file_->path, *error);
    bytes_ += bytes.size();
}

Result<std::string> NewFileSink::create_now() {
    if (!failure_ && !file_) create();
    if (failure_) return *failure_;
    return file_->path;
}

Result<SavedFile> NewFileSink::finish() {
    if (!failure_ && !file_) create();
    if (failure_) return *failure_;
    NewFile file = std::move(*file_);
    file_.reset();
    if (std::optional<IoError> error = finish_new_file(file)) return write_failure(file.path, *error);
    return SavedFile{file.path, bytes_};
}

Result<SavedFile> save_new_file(NewFilePlace place, std::string_view data) {
    NewFileSink file(std::move(place));
    file.take(data);
    return file.finish();
}

std::string file_uri(const std::string& absolute) {
    static const char hex[] = "0123456789ABCDEF";
    std::string path = absolute;
#ifdef _WIN32
    for (char& c : path) {
        if (c == '\\') c = '/';
    }
    if (path.size() >= 2 && path[1] == ':') path = "/" + path;
#endif
    std::string uri = "file://";
    for (std::size_t i = 0; i < path.size(); ++i) {
        char c = path[i];
        auto byte = static_cast<unsigned char>(c);
        bool drive_colon = i == 2 && c == ':' && path[0] == '/';  // file:///C:/...
        bool keep = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9') ||
                    c == '-' || c == '.' || c == '_' || c == '~' || c == '/' || drive_colon;
        if (keep) {
            uri += c;
        } else {
            uri += '%';
            uri += hex[byte >> 4];
            uri += hex[byte & 15];
        }
    }
    return uri;
}
