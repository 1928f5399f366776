#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <cwchar>
#include <iterator>

#include "platform/system.h"

void platform_start() {
    // Nothing to set up: arguments arrive as UTF-16 through wmain, consoles
    // get UTF-16 through WriteConsoleW and everything else gets raw bytes
    // through WriteFile, so neither code pages nor C runtime modes matter.
}

std::string utf8_from_wide(const wchar_t* text) {
    std::string out;
    for (const wchar_t* at = text; *at != L'\0'; ++at) {
        std::uint32_t unit = static_cast<std::uint16_t>(*at);
        std::uint32_t code = unit;
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            std::uint32_t next = static_cast<std::uint16_t>(at[1]);
            if (next >= 0xDC00 && next <= 0xDFFF) {
                code = 0x10000 + ((unit - 0xD800) << 10) + (next - 0xDC00);
                ++at;
            }
        }
        // A lone surrogate keeps its own three-byte form, which is not valid
        // UTF-8: the caller sees that the text was not Unicode and says so.
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (code >> 18));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }
    return out;
}

std::optional<std::wstring> wide_from_utf8(std::string_view text, bool strict) {
    if (text.empty()) return std::wstring();
    DWORD flags = strict ? MB_ERR_INVALID_CHARS : 0;
    int size = static_cast<int>(text.size());
    int length = MultiByteToWideChar(CP_UTF8, flags, text.data(), size, nullptr, 0);
    if (length == 0) return std::nullopt;
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, flags, text.data(), size, wide.data(), length);
    return wide;
}

static bool has_prefix(const std::wstring& text, const wchar_t* prefix) {
    return text.compare(0, std::wcslen(prefix), prefix) == 0;
}

// Paths whose full form is longer than the classic limit get the \\?\ form,
// which takes them as long as the file system allows, as on Linux.
std::wstring long_path_form(const std::wstring& path) {
    const std::size_t classic_limit = MAX_PATH - 12;
    DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0) return path;  // CreateFileW will report the problem
    std::wstring full(needed, L'\0');
    DWORD length = GetFullPathNameW(path.c_str(), needed, full.data(), nullptr);
    if (length == 0 || length >= needed) return path;
    full.resize(length);
    if (full.size() < classic_limit) return path;
    if (has_prefix(full, L"\\\\?\\") || has_prefix(full, L"\\\\.\\")) return full;
    if (has_prefix(full, L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

std::string system_message(int code) {
    wchar_t buffer[2048];
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                  static_cast<DWORD>(code), 0, buffer, static_cast<DWORD>(std::size(buffer)), nullptr);
    // Worded as the C library words a code it does not know.
    if (length == 0) return "Unknown error " + std::to_string(code);
    // The system ends its messages with a line break.
    while (length > 0 && std::wcschr(L" \t\r\n", buffer[length - 1]) != nullptr) --length;
    buffer[length] = L'\0';
    return utf8_from_wide(buffer);
}

std::optional<std::string> environment_value(const char* name) {
    std::wstring wide_name = wide_from_utf8(name, false).value_or(std::wstring());
    std::wstring value(64, L'\0');
    for (;;) {
        SetLastError(ERROR_SUCCESS);
        DWORD length = GetEnvironmentVariableW(wide_name.c_str(), value.data(), static_cast<DWORD>(value.size()));
        if (length == 0 && GetLastError() != ERROR_SUCCESS) return std::nullopt;  // not set
        if (length < value.size()) {
            value.resize(length);
            return utf8_from_wide(value.c_str());
        }
        value.resize(length);  // too small: `length` counts the terminator too
    }
}

std::optional<IoError> write_all(FileHandle file, std::string_view bytes) {
    HANDLE handle = reinterpret_cast<HANDLE>(file);
    while (!bytes.empty()) {
        DWORD offer = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 0x7FFFFFFF));
        DWORD written = 0;
        if (!WriteFile(handle, bytes.data(), offer, &written, nullptr)) {
            return os_error(static_cast<int>(GetLastError()));
        }
        if (written == 0) return IoError{"failed to write whole buffer"};
        bytes.remove_prefix(written);
    }
    return std::nullopt;
}

namespace {
// A console shows UTF-16 correctly whatever its code page, so the text goes
// there as UTF-16, in pieces small enough for every console host.
std::optional<IoError> write_console(HANDLE handle, std::string_view bytes) {
    const std::size_t piece_limit = 8192;
    while (!bytes.empty()) {
        std::size_t take = std::min(bytes.size(), piece_limit);
        // Never split a character between two pieces.
        for (std::size_t back = 0; take < bytes.size() && back < 3; ++back) {
            if ((static_cast<unsigned char>(bytes[take]) & 0xC0) != 0x80) break;
            --take;
        }
        std::wstring wide = wide_from_utf8(bytes.substr(0, take), false).value_or(std::wstring());
        std::wstring_view rest = wide;
        while (!rest.empty()) {
            DWORD written = 0;
            if (!WriteConsoleW(handle, rest.data(), static_cast<DWORD>(rest.size()), &written, nullptr)) {
                return os_error(static_cast<int>(GetLastError()));
            }
            if (written == 0) return IoError{"failed to write whole buffer"};
            rest.remove_prefix(written);
        }
        bytes.remove_prefix(take);
    }
    return std::nullopt;
}
}  // namespace

std::optional<IoError> write_stream(Stream stream, std::string_view bytes) {
    HANDLE handle = GetStdHandle(stream == Stream::out ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
    DWORD mode = 0;
    if (GetConsoleMode(handle, &mode)) return write_console(handle, bytes);
    // Redirected: the bytes exactly as given, "\n" line ends included.
    return write_all(reinterpret_cast<FileHandle>(handle), bytes);
}

void exit_process(int status) {
    // Every write above went straight to the system, so nothing is left to flush.
    ExitProcess(static_cast<UINT>(status));
}
