#pragma once
// The desktop portal's restore token: given when the user lets the app share
// the screen, it lets the next screen cast start without asking again. Each
// token is good for one use and is replaced by the one that use returns. It
// is kept beside the sources file, readable by this user only.
#include <filesystem>
#include <string>

inline constexpr const char* restore_token_file_name = "portal-restore-token";

// The stored token; empty when there is none or it cannot be read.
std::string load_restore_token(const std::filesystem::path& file);

// Replaces the stored token (an empty token removes it). A token that cannot
// be stored only means one more dialog, so failures are returned, not thrown.
bool save_restore_token(const std::filesystem::path& file, const std::string& token);
