#pragma once
// How many files and sockets the app may hold open at once
// (descriptors_posix.cpp, descriptors_win32.cpp). On Linux that is
// RLIMIT_NOFILE, for connections and the work alike; Windows sets no such
// limit on handles and sockets.
#include <cstddef>
#include <optional>

// Raises the soft limit to the hard one where the system allows it.
void raise_descriptor_limit();

// How many more descriptors the process may open now; nullopt when there is
// no limit to speak of.
std::optional<std::size_t> descriptors_left();

// True when the process cannot open one more descriptor right now. For
// failures whose own report does not say why (a library that only says it
// could not connect): when this holds, running out is the likely reason.
bool out_of_descriptors();
