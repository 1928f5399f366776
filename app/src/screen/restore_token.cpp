#include "screen/restore_token.h"

#include "platform/files.h"

#include <fstream>

std::string load_restore_token(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::string token;
    std::getline(in, token);
    // Anything but a line of visible characters is not a token this app wrote.
    if (token.size() > 1024) return "";
    for (char c : token) {
        if (c < 0x21 || c > 0x7e) return "";
    }
    return token;
}

bool save_restore_token(const std::filesystem::path& file, const std::string& token) {
    if (token.empty()) {
        std::error_code ignored;
        std::filesystem::remove(file, ignored);
        return true;
    }
    try {
        write_file_atomically(file, token + "\n");
        return true;
    } catch (const FileError&) {
        return false;
    }
}
