#pragma once
// What a fuzz target asserts. A broken property aborts, which libFuzzer
// reports as a crash and saves the input; unlike assert it holds in every
// build type.
#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition, what)                                                           \
    do {                                                                                      \
        if (!(condition)) {                                                                   \
            std::fprintf(stderr, "%s:%d: property broken: %s\n", __FILE__, __LINE__, (what)); \
            std::abort();                                                                     \
        }                                                                                     \
    } while (false)
