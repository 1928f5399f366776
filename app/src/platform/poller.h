#pragma once
// Readiness of many sockets at once, for the server's one thread: epoll on
// Linux (poller_epoll.cpp), WSAPoll on Windows (poller_wsapoll.cpp). Level
// triggered: a socket is reported for as long as it is ready. Other threads
// may only call wake().
#include "platform/app_socket.h"

#include <cstdint>
#include <memory>
#include <vector>

enum class Interest { none, read, write };

struct PollEvent {
    std::uint64_t key = 0;
    bool readable = false;  // bytes, or the end of the stream, can be read
    bool writable = false;
    // The peer has shut down its sending side, or the connection failed:
    // a receive or send says which.
    bool hangup = false;
};

class Poller {
public:
    // Throws std::runtime_error with the system's reason.
    Poller();
    ~Poller();
    Poller(const Poller&) = delete;
    Poller& operator=(const Poller&) = delete;

    // Watches `socket` for `interest`, reported under `key`; replaces what
    // was watched for it before. Interest::none stops watching it.
    void watch(SocketHandle socket, std::uint64_t key, Interest interest);

    // The socket is about to be closed: it is watched no more (closing it
    // takes it out of an epoll set by itself, without another call).
    void forget(SocketHandle socket);

    // Waits until a watched socket is ready, wake() is called, or
    // `timeout_ms` passes. Fills `events`; true when it was woken.
    bool wait(std::vector<PollEvent>& events, int timeout_ms);

    // From any thread: the current or next wait returns.
    void wake();

private:
    struct State;
    std::unique_ptr<State> state_;
};
