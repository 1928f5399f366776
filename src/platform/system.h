#pragma once
// What the program needs of the operating system apart from sockets: its
// arguments, the environment, the standard streams, files and error texts.
// One implementation per platform: system_posix.cpp, system_win32.cpp.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/io_error.h"

// Called once at the entry, before anything else runs.
void platform_start();

// The system's message for an error code, without a trailing line break.
std::string system_message(int code);

// The value of an environment variable as UTF-8; absent when it is not set
// or does not hold valid Unicode text.
std::optional<std::string> environment_value(const char* name);

enum class Stream { out, err };

// Writes every byte or returns the reason it could not.
std::optional<IoError> write_stream(Stream stream, std::string_view bytes);

// An open file: a descriptor, or a HANDLE on Windows.
using FileHandle = std::intptr_t;

// Writes every byte to an open file, or returns the reason it could not.
std::optional<IoError> write_all(FileHandle file, std::string_view bytes);

// Ends the process at once; nothing buffered in the C runtime is flushed.
[[noreturn]] void exit_process(int status);

#ifdef _WIN32
// UTF-16 from the system as UTF-8. A lone surrogate keeps a three-byte form
// that is not valid UTF-8, so the text can still be told apart from Unicode.
std::string utf8_from_wide(const wchar_t* text);

// UTF-8 as UTF-16. Strict for file names, which must not silently change
// (absent for text that is not UTF-8); lenient (U+FFFD for bad bytes) for
// what is only shown.
std::optional<std::wstring> wide_from_utf8(std::string_view text, bool strict);

// A path whose full form is longer than the classic limit, in the \\?\ form
// that takes it as long as the file system allows.
std::wstring long_path_form(const std::wstring& path);
#endif
