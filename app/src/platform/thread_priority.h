#pragma once
// The processor priority of the calling thread (thread_priority_posix.cpp,
// thread_priority_win32.cpp).

// Lowers it by `steps` niceness steps (Linux, where the niceness belongs to
// the thread), or to below normal (Windows): expensive work then yields the
// processor to the server's thread and the cheap requests.
void lower_this_thread_priority(int steps);
