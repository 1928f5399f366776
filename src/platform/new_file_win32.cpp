#include <windows.h>

#include "platform/new_file.h"

NewFileResult create_new_file(const std::string& path) {
    std::optional<std::wstring> wide = wide_from_utf8(path, true);
    if (!wide) return {{}, os_error(ERROR_NO_UNICODE_TRANSLATION), false};
    HANDLE handle = CreateFileW(long_path_form(*wide).c_str(), GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        DWORD code = GetLastError();
        return {{}, os_error(static_cast<int>(code)), code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS};
    }
    return {{reinterpret_cast<FileHandle>(handle), path}, std::nullopt, false};
}

std::optional<IoError> finish_new_file(NewFile& file) {
    HANDLE handle = reinterpret_cast<HANDLE>(file.handle);
    file.handle = -1;
    if (!CloseHandle(handle)) {
        IoError error = os_error(static_cast<int>(GetLastError()));
        remove_new_file(file);
        return error;
    }
    return std::nullopt;
}

void remove_new_file(NewFile& file) {
    if (file.handle != -1) CloseHandle(reinterpret_cast<HANDLE>(file.handle));
    file.handle = -1;
    // The path was valid UTF-8 when the file was made.
    DeleteFileW(long_path_form(*wide_from_utf8(file.path, true)).c_str());
}
