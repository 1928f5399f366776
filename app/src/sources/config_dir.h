#pragma once
// Where the app keeps its settings: $XDG_CONFIG_HOME/vistrel when that is an
// absolute path, else ~/.config/vistrel.
#include <filesystem>

std::filesystem::path config_folder();

// The same rule from given values (either may be null), for testing.
std::filesystem::path config_folder_from(const char* xdg_config_home, const char* home);

// Makes the folder and any missing parents, each readable by its owner only
// (0700, whatever the umask): the list of cameras is nobody else's business.
// Folders that already exist are left as they are. Throws
// std::filesystem::filesystem_error.
void make_private_folder(const std::filesystem::path& folder);
