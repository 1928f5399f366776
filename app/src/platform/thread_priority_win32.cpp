#include "platform/thread_priority.h"

#include <windows.h>

void lower_this_thread_priority(int steps) {
    // Windows has no niceness; one step below normal is what it offers
    // short of idle, which would starve the work on a busy desktop.
    if (steps > 0) SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_BELOW_NORMAL);
}
