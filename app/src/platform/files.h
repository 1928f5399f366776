#pragma once
// The files the app keeps (the sources list, the portal's restore token) and
// the locks that several apps sharing them take: one set of helpers for the
// whole app, with one implementation per platform (files_posix.cpp,
// files_win32.cpp).
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <stdexcept>
#include <string>

// Why a step on a file failed, where the caller answers differently.
enum class FileProblem {
    failed,     // anything else
    exhausted,  // out of descriptors or memory: a later try may work
    held,       // a lock that another holder kept past the deadline
};

// A step on a file failed. The text names the file and the system's reason:
// "cannot write PATH: REASON".
struct FileError : std::runtime_error {
    explicit FileError(const std::string& message, FileProblem why = FileProblem::failed)
        : std::runtime_error(message), problem(why) {}
    FileProblem problem;
};

// Where the app keeps its settings: on Linux $XDG_CONFIG_HOME/vistrel when
// that is an absolute path, else ~/.config/vistrel; on Windows
// %APPDATA%\vistrel.
std::filesystem::path config_folder();
#ifndef _WIN32
// The Linux rule from given values (either may be null), for testing.
std::filesystem::path config_folder_from(const char* xdg_config_home, const char* home);
#endif

// A small file read whole: the sources list, a token.
struct FileRead {
    enum class Status { ok, missing, too_large, failed } status = Status::ok;
    std::string text;        // when ok
    std::string reason;      // the system's words, when failed
    bool exhausted = false;  // failed for want of descriptors or memory
};
FileRead read_small_file(const std::filesystem::path& file, std::size_t max_bytes);

// Makes the folder and any missing parents, each readable by its owner only
// (on Linux 0700, whatever the umask): the list of cameras is nobody else's
// business. Folders that already exist are left as they are. Throws
// std::filesystem::filesystem_error.
void make_private_folder(const std::filesystem::path& folder);

// Replaces `file` whole: a temporary file beside the old one, flushed to disk
// and renamed over it, so that a stop at any moment leaves either the old or
// the new contents, never half of them. Makes the folder (private) when
// missing; the file is readable by this user only. Throws FileError.
void write_file_atomically(const std::filesystem::path& file, const std::string& text);

// The temporary files write_file_atomically makes for `file` begin with this.
std::string atomic_temp_prefix(const std::filesystem::path& file);

// An exclusive lock on `path` (created when missing) that every app sharing
// it respects. Held by an open descriptor or handle: the system lets go of
// it when the app ends, however it ends.
class FileLock {
public:
    // Waits until `deadline` at most. Throws FileError ("cannot lock PATH:
    // REASON") when the file cannot be opened or the lock not had in time
    // (FileProblem::held).
    FileLock(const std::filesystem::path& path, std::chrono::steady_clock::time_point deadline);
    ~FileLock();
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

private:
    std::intptr_t handle_ = -1;
};
