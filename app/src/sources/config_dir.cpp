#include "sources/config_dir.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

std::filesystem::path config_folder_from(const char* xdg_config_home, const char* home) {
    // The base directory rules ignore a relative XDG_CONFIG_HOME.
    if (xdg_config_home && xdg_config_home[0] == '/') return std::filesystem::path(xdg_config_home) / "vistrel";
    std::filesystem::path base;
    if (home && home[0]) {
        base = home;
    } else if (const passwd* entry = getpwuid(getuid()); entry && entry->pw_dir) {
        base = entry->pw_dir;
    } else {
        base = "/tmp";
    }
    return base / ".config" / "vistrel";
}

std::filesystem::path config_folder() {
    return config_folder_from(std::getenv("XDG_CONFIG_HOME"), std::getenv("HOME"));
}
