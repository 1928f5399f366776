#include "platform/thread_priority.h"

#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>

void lower_this_thread_priority(int steps) {
    if (steps <= 0) return;
    errno = 0;
    int current = getpriority(PRIO_PROCESS, static_cast<id_t>(gettid()));
    if (errno == 0) setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), current + steps);
}
