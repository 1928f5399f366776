#pragma once
// A failure to talk to the app or to write a file, as the user will read it.
#include <string>

struct IoError {
    std::string text;
};

// "{message} (os error {code})" with the system's own message for the code.
IoError os_error(int code);
