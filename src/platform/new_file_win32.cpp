#include <windows.h>

#include <algorithm>
#include <filesystem>

#include "platform/new_file.h"

NewFileResult write_new_file(const std::string& path, std::string_view bytes) {
    std::wstring wide = std::filesystem::path(std::u8string(path.begin(), path.end())).wstring();
    HANDLE file = CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD code = GetLastError();
        return {os_error(static_cast<int>(code)), code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS};
    }
    std::optional<IoError> error;
    while (!bytes.empty() && !error) {
        DWORD offer = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 0x7FFFFFFF));
        DWORD written = 0;
        if (!WriteFile(file, bytes.data(), offer, &written, nullptr)) {
            error = os_error(static_cast<int>(GetLastError()));
        } else if (written == 0) {
            error = IoError{"failed to write whole buffer"};
        }
        bytes.remove_prefix(written);
    }
    if (!CloseHandle(file) && !error) error = os_error(static_cast<int>(GetLastError()));
    if (error) DeleteFileW(wide.c_str());
    return {error, false};
}
