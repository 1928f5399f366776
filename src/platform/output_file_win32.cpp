#include <windows.h>

#include <atomic>
#include <string>

#include "platform/output_file.h"

namespace {
HANDLE native(FileHandle file) {
    return reinterpret_cast<HANDLE>(file);
}

FileHandle portable(HANDLE handle) {
    return reinterpret_cast<FileHandle>(handle);
}

IoError last_error() {
    return os_error(static_cast<int>(GetLastError()));
}

constexpr DWORD share_all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// The folder part of a path, with its closing separator (or the drive of
// "C:name"); empty for a bare name.
std::wstring folder_of(const std::wstring& path) {
    std::size_t end = path.find_last_of(L"\\/:");
    return end == std::wstring::npos ? std::wstring() : path.substr(0, end + 1);
}

std::wstring hidden_name() {
    static std::atomic<unsigned long long> counter{0};
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    unsigned long long mix = static_cast<unsigned long long>(now.QuadPart) ^
                             (static_cast<unsigned long long>(GetCurrentProcessId()) << 32) ^
                             (counter.fetch_add(1) * 0x9E3779B97F4A7C15ull);
    mix ^= mix >> 31;
    mix *= 0xBF58476D1CE4E5B9ull;
    mix ^= mix >> 29;
    std::wstring name = L".vistrel-0123456789abcdef.tmp";
    for (std::size_t i = 0; i < 16; ++i) name[9 + i] = L"0123456789abcdef"[(mix >> (60 - 4 * i)) & 0xF];
    return name;
}

// Marks an open file to vanish when its last handle closes, however the
// process ends; cleared before the file takes its place.
bool set_delete_on_close(HANDLE handle, bool remove) {
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = remove ? TRUE : FALSE;
    return SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof disposition) != 0;
}

// A new file in `folder`, made by this call alone; GetLastError tells why not.
bool create_temporary(const std::wstring& folder, OpenOutput& output) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::wstring path = folder + hidden_name();
        HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE | DELETE, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                    CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle != INVALID_HANDLE_VALUE) {
            set_delete_on_close(handle, true);
            output.handle = portable(handle);
            output.temporary = utf8_from_wide(path.c_str());
            return true;
        }
        DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) {
            SetLastError(error);
            return false;
        }
    }
    return false;
}

// A full disk fails the save rather than fall back on writing in place,
// which would lose the old file as well.
bool disk_is_full(DWORD error) {
    return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL;
}

OpenOutputResult in_place(const std::wstring& path) {
    OpenOutputResult result;
    result.output.target = utf8_from_wide(path.c_str());
    HANDLE handle =
        CreateFileW(path.c_str(), GENERIC_WRITE, share_all, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        result.error = last_error();
        return result;
    }
    bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
    result.output.handle = portable(handle);
    result.output.created = !existed;
    result.output.truncate = existed && GetFileType(handle) == FILE_TYPE_DISK;
    return result;
}

OpenOutputResult in_place_with(HANDLE handle, const std::wstring& path, bool truncate) {
    OpenOutputResult result;
    result.output.handle = portable(handle);
    result.output.target = utf8_from_wide(path.c_str());
    result.output.truncate = truncate;
    return result;
}

OpenOutputResult new_file(const std::wstring& path) {
    OpenOutputResult result;
    result.output.target = utf8_from_wide(path.c_str());
    if (create_temporary(folder_of(path), result.output)) return result;
    DWORD error = GetLastError();
    if (disk_is_full(error)) {
        result.error = os_error(static_cast<int>(error));
        return result;
    }
    return in_place(path);
}

// Where a file opened through links really is; empty when that cannot be told.
std::wstring final_path(HANDLE handle) {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        DWORD length = GetFinalPathNameByHandleW(handle, path.data(), static_cast<DWORD>(path.size()),
                                                 FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (length == 0) return std::wstring();
        if (length < path.size()) {
            path.resize(length);
            return path;
        }
        path.resize(length);
    }
}
}  // namespace

OpenOutputResult open_output_file(const std::string& path) {
    std::optional<std::wstring> wide = wide_from_utf8(path, true);
    if (!wide) return OpenOutputResult{{}, os_error(ERROR_NO_UNICODE_TRANSLATION)};
    std::wstring full = long_path_form(*wide);
    // A file that cannot be written is refused here, as when written in place.
    HANDLE probe =
        CreateFileW(full.c_str(), GENERIC_WRITE, share_all, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (probe == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND) return new_file(full);
        return OpenOutputResult{{}, os_error(static_cast<int>(error))};
    }
    if (GetFileType(probe) != FILE_TYPE_DISK) return in_place_with(probe, full, false);  // a device, a pipe
    BY_HANDLE_FILE_INFORMATION information{};
    if (!GetFileInformationByHandle(probe, &information) || information.nNumberOfLinks > 1) {
        return in_place_with(probe, full, true);
    }
    std::wstring target = full;
    if ((information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        target = final_path(probe);
        if (target.empty()) return in_place_with(probe, full, true);
    }
    OpenOutputResult result;
    result.output.target = utf8_from_wide(target.c_str());
    if (!create_temporary(folder_of(target), result.output)) {
        DWORD error = GetLastError();
        if (!disk_is_full(error)) return in_place_with(probe, full, true);
        CloseHandle(probe);
        result.error = os_error(static_cast<int>(error));
        return result;
    }
    CloseHandle(probe);
    return result;
}

std::optional<IoError> start_output_file(OpenOutput& output) {
    if (!output.truncate) return std::nullopt;
    LARGE_INTEGER start{};
    if (!SetFilePointerEx(native(output.handle), start, nullptr, FILE_BEGIN) || !SetEndOfFile(native(output.handle))) {
        return last_error();
    }
    return std::nullopt;
}

std::optional<IoError> write_output_file(OpenOutput& output, std::string_view bytes) {
    return write_all(output.handle, bytes);
}

std::optional<IoError> finish_output_file(OpenOutput& output) {
    HANDLE handle = native(output.handle);
    output.handle = -1;
    if (output.temporary.empty()) {
        if (!CloseHandle(handle)) return last_error();
        return std::nullopt;
    }
    // Not forced to the disk first, as on other systems: what the rename must
    // survive is a failed transfer or an ended process.
    if (!set_delete_on_close(handle, false)) {
        IoError error = last_error();
        CloseHandle(handle);
        return error;
    }
    if (!CloseHandle(handle)) return last_error();
    std::wstring temporary = *wide_from_utf8(output.temporary, false);
    std::wstring target = *wide_from_utf8(output.target, false);
    if (!MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        return last_error();
    }
    output.temporary.clear();
    return std::nullopt;
}

void abandon_output_file(OpenOutput& output) {
    if (output.handle != -1) CloseHandle(native(output.handle));  // a temporary file goes with its handle
    output.handle = -1;
    if (!output.temporary.empty()) {
        DeleteFileW(wide_from_utf8(output.temporary, false)->c_str());
        output.temporary.clear();
    } else if (output.created) {
        DeleteFileW(wide_from_utf8(output.target, false)->c_str());
        output.created = false;
    }
}
