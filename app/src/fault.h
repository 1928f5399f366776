#pragma once
// What went wrong, in the terms of the part that met it: cameras, the screen,
// recordings, sources and the parsing of requests throw a Fault of one of
// these kinds with a message for the user. Only the endpoints turn a kind
// into an HTTP status (endpoints/fault_reply.h), so no code below them knows
// about HTTP.
#include <string>

enum class FaultKind {
    bad_argument,  // the request asks for something impossible
    not_found,     // no device, source or camera of that name, or none at all
    denied,        // the user or the system refuses access
    busy,          // held by another program or another request
    gone,          // it was there and is not any more (a camera unplugged)
    unavailable,   // cannot be had here now (no screen, the app is stopping)
    exhausted,     // out of a resource (descriptors, memory)
    timed_out,     // no usable answer in time
    bad_source,    // a camera or network camera sent something unusable
    unsupported,   // this platform or device cannot do it
    failed,        // anything else that went wrong
};

struct Fault {
    FaultKind kind = FaultKind::failed;
    std::string message;
};
