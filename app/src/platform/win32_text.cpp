#include "platform/win32_text.h"

#include <windows.h>

std::string utf8_from_wide(std::wstring_view wide) {
    if (wide.empty()) return {};
    int size = static_cast<int>(wide.size());
    int length = WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    std::string text(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, text.data(), length, nullptr, nullptr);
    return text;
}

std::wstring wide_from_utf8(std::string_view text) {
    if (text.empty()) return {};
    int size = static_cast<int>(text.size());
    int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(), length);
    return wide;
}

std::string system_error_text(unsigned long code) {
    wchar_t buffer[512];
    DWORD length = FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0, buffer,
                                  static_cast<DWORD>(std::size(buffer)), nullptr);
    while (length > 0 && (buffer[length - 1] == L'\r' || buffer[length - 1] == L'\n' || buffer[length - 1] == L' ' ||
                          buffer[length - 1] == L'.')) {
        --length;
    }
    if (length == 0) return "Unknown error " + std::to_string(code);
    return utf8_from_wide(std::wstring_view(buffer, length));
}
