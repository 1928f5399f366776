#include "platform/files.h"

#include "platform/win32_text.h"

#include <shlobj.h>
#include <windows.h>

#include <atomic>
#include <thread>

namespace fs = std::filesystem;

namespace {
// Out of handles or memory.
bool exhausted(DWORD error) {
    return error == ERROR_TOO_MANY_OPEN_FILES || error == ERROR_NOT_ENOUGH_MEMORY || error == ERROR_OUTOFMEMORY ||
           error == ERROR_NO_SYSTEM_RESOURCES;
}

FileProblem problem_of(DWORD error) {
    return exhausted(error) ? FileProblem::exhausted : FileProblem::failed;
}

[[noreturn]] void fail_write(const fs::path& path, DWORD error) {
    throw FileError("cannot write " + path.string() + ": " + system_error_text(error), problem_of(error));
}

struct HandleCloser {
    HANDLE handle;
    ~HandleCloser() {
        if (handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    }
};

std::atomic<unsigned> temp_counter{0};
}  // namespace

fs::path config_folder() {
    PWSTR roaming = nullptr;
    fs::path base;
    if (SHGetKnownFolderPath(FOLDERID_RoamingAppData, KF_FLAG_CREATE, nullptr, &roaming) == S_OK) base = roaming;
    CoTaskMemFree(roaming);
    if (base.empty()) base = fs::temp_directory_path();
    return base / "vistrel";
}

FileRead read_small_file(const fs::path& file, std::size_t max_bytes) {
    HANDLE handle = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
            return {FileRead::Status::missing, {}, {}, false};
        }
        return {FileRead::Status::failed, {}, system_error_text(error), exhausted(error)};
    }
    HandleCloser closer{handle};
    FileRead read;
    char buffer[8192];
    for (;;) {
        DWORD n = 0;
        if (!ReadFile(handle, buffer, sizeof buffer, &n, nullptr)) {
            DWORD error = GetLastError();
            return {FileRead::Status::failed, {}, system_error_text(error), exhausted(error)};
        }
        if (n == 0) break;
        read.text.append(buffer, n);
        if (read.text.size() > max_bytes) return {FileRead::Status::too_large, {}, {}, false};
    }
    return read;
}

void make_private_folder(const fs::path& folder) {
    // Under the user's profile, whose access list already keeps other users
    // out; a folder elsewhere is made as the system makes it.
    fs::path partial;
    for (const auto& part : folder) {
        partial /= part;
        if (partial == partial.root_name() || partial == partial.root_path()) continue;
        if (!CreateDirectoryW(partial.c_str(), nullptr)) {
            DWORD error = GetLastError();
            if (error != ERROR_ALREADY_EXISTS && error != ERROR_ACCESS_DENIED) {
                throw fs::filesystem_error("cannot create it", partial,
                                           std::error_code(static_cast<int>(error), std::system_category()));
            }
        }
    }
    if (!fs::is_directory(folder)) {
        throw fs::filesystem_error("it is not a folder", folder, std::make_error_code(std::errc::not_a_directory));
    }
}

std::string atomic_temp_prefix(const fs::path& file) {
    std::string prefix = ".";
    prefix += file.filename().string();
    prefix += ".tmp-";
    return prefix;
}

void write_file_atomically(const fs::path& file, const std::string& text) {
    fs::path folder = file.parent_path();
    try {
        make_private_folder(folder);
    } catch (const fs::filesystem_error& e) {
        throw FileError("cannot create " + e.path1().string() + ": " + e.code().message());
    }
    fs::path temp = folder / (atomic_temp_prefix(file) + std::to_string(GetCurrentProcessId()) + "-" +
                              std::to_string(temp_counter++));
    {
        HANDLE handle =
            CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE) fail_write(temp, GetLastError());
        HandleCloser closer{handle};
        std::size_t done = 0;
        while (done < text.size()) {
            DWORD n = 0;
            DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(text.size() - done, 1 << 20));
            if (!WriteFile(handle, text.data() + done, chunk, &n, nullptr) || n == 0) {
                DWORD error = GetLastError();
                CloseHandle(handle);
                closer.handle = INVALID_HANDLE_VALUE;
                DeleteFileW(temp.c_str());
                fail_write(temp, error);
            }
            done += n;
        }
        if (!FlushFileBuffers(handle)) {
            DWORD error = GetLastError();
            CloseHandle(handle);
            closer.handle = INVALID_HANDLE_VALUE;
            DeleteFileW(temp.c_str());
            fail_write(temp, error);
        }
    }
    // A virus scanner or the indexer may hold the old file for a moment.
    for (int attempt = 0;; ++attempt) {
        if (MoveFileExW(temp.c_str(), file.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return;
        DWORD error = GetLastError();
        if ((error != ERROR_ACCESS_DENIED && error != ERROR_SHARING_VIOLATION) || attempt >= 20) {
            DeleteFileW(temp.c_str());
            fail_write(file, error);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
}

FileLock::FileLock(const fs::path& path, std::chrono::steady_clock::time_point deadline) {
    HANDLE handle = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        throw FileError("cannot open " + path.string() + ": " + system_error_text(error), problem_of(error));
    }
    for (;;) {
        OVERLAPPED whole{};
        if (LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, MAXDWORD, MAXDWORD, &whole))
            break;
        DWORD error = GetLastError();
        if (error != ERROR_LOCK_VIOLATION || std::chrono::steady_clock::now() >= deadline) {
            CloseHandle(handle);
            throw FileError("cannot lock " + path.string() + ": " + system_error_text(error),
                            error == ERROR_LOCK_VIOLATION ? FileProblem::held : problem_of(error));
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    handle_ = reinterpret_cast<std::intptr_t>(handle);
}

FileLock::~FileLock() {
    // Closing the handle lets go of the lock.
    CloseHandle(reinterpret_cast<HANDLE>(handle_));
}
