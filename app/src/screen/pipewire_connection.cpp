#include "screen/pipewire_connection.h"

#include <unistd.h>

#include <mutex>

namespace {
std::once_flag pipewire_started;
}

bool PipeWireConnection::connect_locked(int fd, const char* thread_name) {
    std::call_once(pipewire_started, [] { pw_init(nullptr, nullptr); });
    loop = pw_thread_loop_new(thread_name, nullptr);
    if (loop) context = pw_context_new(pw_thread_loop_get_loop(loop), nullptr, 0);
    if (!context || pw_thread_loop_start(loop) < 0) {
        close(fd);
        return false;
    }
    pw_thread_loop_lock(loop);
    core = pw_context_connect_fd(context, fd, nullptr, 0);
    if (!core) {
        pw_thread_loop_unlock(loop);
        return false;
    }
    return true;
}

PipeWireConnection::~PipeWireConnection() {
    if (loop) pw_thread_loop_stop(loop);
    if (stream) pw_stream_destroy(stream);
    if (core) pw_core_disconnect(core);
    if (context) pw_context_destroy(context);
    if (loop) pw_thread_loop_destroy(loop);
}
