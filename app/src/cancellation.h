#pragma once
// Long work (a network camera's fetch, a recording) asks a CancelCheck now
// and then and stops when it answers true: the client has hung up, or the
// app is stopping. Work that stops for that reason throws Cancelled; the
// server then answers only if someone is still there to read it.
#include <functional>

using CancelCheck = std::function<bool()>;

struct Cancelled {};
