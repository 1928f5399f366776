#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <cstdio>

#include "platform/standard_input.h"

void set_binary_standard_streams() {
    // The protocol's bytes go through the handles directly; the C runtime's
    // streams are set to binary too, so that nothing there turns "\n" into "\r\n".
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
}

InputRead read_standard_input(char* buffer, std::size_t size) {
    DWORD got = 0;
    DWORD offer = static_cast<DWORD>(size > 0x7FFFFFFF ? 0x7FFFFFFF : size);
    if (!ReadFile(GetStdHandle(STD_INPUT_HANDLE), buffer, offer, &got, nullptr)) {
        DWORD code = GetLastError();
        // The writer closed its end of the pipe: that is the end of input.
        if (code == ERROR_BROKEN_PIPE || code == ERROR_HANDLE_EOF) return {0, std::nullopt};
        return {0, os_error(static_cast<int>(code))};
    }
    return {got, std::nullopt};
}
