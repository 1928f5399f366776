#pragma once
// How many times slower the programs under test run when they are built
// with the sanitizers; timing bounds in the tests are multiplied by it.
#if defined(__SANITIZE_THREAD__)
inline constexpr int sanitizer_slowdown = 8;
#elif defined(__SANITIZE_ADDRESS__)
inline constexpr int sanitizer_slowdown = 3;
#else
inline constexpr int sanitizer_slowdown = 1;
#endif
