#pragma once
// Where the app keeps its settings: $XDG_CONFIG_HOME/vistrel when that is an
// absolute path, else ~/.config/vistrel.
#include <filesystem>

std::filesystem::path config_folder();

// The same rule from given values (either may be null), for testing.
std::filesystem::path config_folder_from(const char* xdg_config_home, const char* home);
