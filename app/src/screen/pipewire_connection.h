#pragma once
// PipeWire on a thread of its own, connected through a given descriptor (the
// one the desktop portal opens, or a socket of the session's PipeWire).
#include <pipewire/pipewire.h>

struct PipeWireConnection {
    pw_thread_loop* loop = nullptr;
    pw_context* context = nullptr;
    pw_core* core = nullptr;
    pw_stream* stream = nullptr;  // the one stream on it, ended first

    PipeWireConnection() = default;
    PipeWireConnection(const PipeWireConnection&) = delete;
    PipeWireConnection& operator=(const PipeWireConnection&) = delete;
    ~PipeWireConnection();

    // Starts the thread and connects through `fd`, which is owned from now
    // on; false when PipeWire will not start or connect. Returns with the
    // thread's lock held when it succeeds, so that the stream can be set up.
    bool connect_locked(int fd, const char* thread_name);
};
