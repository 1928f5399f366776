#include "sources/config_dir.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>

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

void make_private_folder(const std::filesystem::path& folder) {
    std::filesystem::path partial;
    for (const auto& part : folder) {
        partial /= part;
        if (::mkdir(partial.c_str(), 0700) == 0) {
            // mkdir leaves out what the umask says; the folder is to be 0700.
            if (::chmod(partial.c_str(), 0700) != 0) {
                throw std::filesystem::filesystem_error("cannot make it private", partial,
                                                        std::error_code(errno, std::generic_category()));
            }
        } else if (errno != EEXIST) {
            throw std::filesystem::filesystem_error("cannot create it", partial,
                                                    std::error_code(errno, std::generic_category()));
        }
    }
    if (!std::filesystem::is_directory(folder)) {
        throw std::filesystem::filesystem_error("it is not a folder", folder,
                                                std::make_error_code(std::errc::not_a_directory));
    }
}
