#include "platform/descriptors.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace {
// The descriptors open now, or -1 when /proc cannot tell.
long open_descriptors() {
    DIR* folder = opendir("/proc/self/fd");
    if (!folder) return -1;
    long count = 0;
    while (const dirent* entry = readdir(folder)) {
        if (entry->d_name[0] != '.') ++count;
    }
    closedir(folder);
    return count - 1;  // the listing's own
}
}  // namespace

void raise_descriptor_limit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= limit.rlim_max) return;
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
}

std::optional<std::size_t> descriptors_left() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return std::nullopt;
    long open = open_descriptors();
    if (open < 0) return std::nullopt;
    auto soft = static_cast<std::size_t>(limit.rlim_cur);
    return soft > static_cast<std::size_t>(open) ? soft - static_cast<std::size_t>(open) : 0;
}

bool out_of_descriptors() {
    int fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (fd >= 0) {
        ::close(fd);
        return false;
    }
    return errno == EMFILE || errno == ENFILE;
}
