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
