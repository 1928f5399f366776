#include <windows.h>

#include <algorithm>
#include <filesystem>

#include "mcp/saved_files.h"

NewFileResult write_new_file(const std::string& path, const std::vector<std::string_view>& pieces) {
    std::wstring wide = std::filesystem::path(std::u8string(path.begin(), path.end())).wstring();
    HANDLE file = CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD code = GetLastError();
        return {os_error(static_cast<int>(code)), code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS};
    }
    std::optional<IoError> error;
    for (std::string_view piece : pieces) {
        while (!piece.empty() && !error) {
            DWORD offer = static_cast<DWORD>(std::min<std::size_t>(piece.size(), 0x7FFFFFFF));
            DWORD written = 0;
            if (!WriteFile(file, piece.data(), offer, &written, nullptr)) {
                error = os_error(static_cast<int>(GetLastError()));
            } else if (written == 0) {
                error = IoError{"failed to write whole buffer"};
            }
            piece.remove_prefix(written);
        }
    }
    if (!CloseHandle(file) && !error) error = os_error(static_cast<int>(GetLastError()));
    if (error) DeleteFileW(wide.c_str());
    return {error, false};
}
