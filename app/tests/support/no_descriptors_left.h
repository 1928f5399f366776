#pragma once
// While one lives, the test process can open no descriptor (its soft
// RLIMIT_NOFILE is 0): every open, socket and pipe fails with EMFILE, as in
// an app that has run out. What is open stays usable.
#include <sys/resource.h>

struct NoDescriptorsLeft {
    rlimit saved{};
    NoDescriptorsLeft() {
        getrlimit(RLIMIT_NOFILE, &saved);
        rlimit none = saved;
        none.rlim_cur = 0;
        setrlimit(RLIMIT_NOFILE, &none);
    }
    ~NoDescriptorsLeft() { setrlimit(RLIMIT_NOFILE, &saved); }
    NoDescriptorsLeft(const NoDescriptorsLeft&) = delete;
    NoDescriptorsLeft& operator=(const NoDescriptorsLeft&) = delete;
};

// UndefinedBehaviorSanitizer checks the type of an object behind a member
// call by reading the process's memory map, which takes a descriptor: with
// none left it reports sound exceptions as objects of no known type. Tests
// that throw while no descriptor is left run in the other builds.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool sanitizer_needs_descriptors = true;
#else
inline constexpr bool sanitizer_needs_descriptors = false;
#endif
