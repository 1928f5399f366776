#pragma once
// Windows speaks UTF-16 and numbers its errors; the app speaks UTF-8 and
// words. The conversions every Windows file of the app uses.
#include <string>
#include <string_view>

std::string utf8_from_wide(std::wstring_view wide);
std::wstring wide_from_utf8(std::string_view text);

// The system's own words for an error code (GetLastError, a registry call's
// status, an HRESULT), without the full stop and line break it ends with.
std::string system_error_text(unsigned long code);
