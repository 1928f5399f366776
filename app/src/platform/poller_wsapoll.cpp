#include "platform/poller.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <stdexcept>
#include <string>
#include <unordered_map>

namespace {
short events_of(Interest interest) {
    return interest == Interest::write ? POLLWRNORM : POLLRDNORM;
}

// A connected pair of loopback sockets: Windows has no eventfd, and WSAPoll
// watches sockets only. Bytes sent to `writer` make `reader` readable.
bool make_wake_pair(SOCKET& reader, SOCKET& writer, std::string& reason) {
    Listening listening = listen_on_loopback(0);
    if (listening.socket == no_socket) {
        reason = listening.error;
        return false;
    }
    NetAddress address;
    address.bytes = {127, 0, 0, 1};
    address.port = listening.port;
    SocketResult connecting = start_connect(address);
    if (connecting.socket == no_socket) {
        reason = socket_error_text(connecting.code);
        close_socket(listening.socket);
        return false;
    }
    SocketResult accepted;
    for (int i = 0; i < 500; ++i) {
        accepted = accept_connection(listening.socket);
        if (accepted.status != SocketStatus::would_block) break;
        wait_until_ready(listening.socket, false, 10);
    }
    SocketResult connected = finish_connect(connecting.socket, 5000);
    close_socket(listening.socket);
    if (accepted.socket == no_socket || connected.status != SocketStatus::done) {
        reason = socket_error_text(accepted.socket == no_socket ? accepted.code : connected.code);
        close_socket(accepted.socket);
        close_socket(connecting.socket);
        return false;
    }
    reader = static_cast<SOCKET>(accepted.socket);
    writer = static_cast<SOCKET>(connecting.socket);
    return true;
}
}  // namespace

struct Poller::State {
    SOCKET wake_reader = INVALID_SOCKET;
    SOCKET wake_writer = INVALID_SOCKET;
    // What WSAPoll is given: the wake-up socket first, then one entry per
    // watched socket, with its key beside it.
    std::vector<WSAPOLLFD> fds;
    std::vector<std::uint64_t> keys;
    std::unordered_map<SOCKET, std::size_t> index;
};

Poller::Poller() : state_(std::make_unique<State>()) {
    std::string reason;
    if (!make_wake_pair(state_->wake_reader, state_->wake_writer, reason)) {
        throw std::runtime_error("cannot watch connections: " + reason);
    }
    state_->fds.push_back(WSAPOLLFD{state_->wake_reader, POLLRDNORM, 0});
    state_->keys.push_back(0);
}

Poller::~Poller() {
    closesocket(state_->wake_reader);
    closesocket(state_->wake_writer);
}

void Poller::watch(SocketHandle socket, std::uint64_t key, Interest interest) {
    SOCKET s = static_cast<SOCKET>(socket);
    auto it = state_->index.find(s);
    if (interest == Interest::none) {
        if (it == state_->index.end()) return;
        // The last entry takes the place of the one that goes.
        std::size_t at = it->second;
        std::size_t last = state_->fds.size() - 1;
        if (at != last) {
            state_->fds[at] = state_->fds[last];
            state_->keys[at] = state_->keys[last];
            state_->index[state_->fds[at].fd] = at;
        }
        state_->fds.pop_back();
        state_->keys.pop_back();
        state_->index.erase(s);
        return;
    }
    if (it == state_->index.end()) {
        state_->index[s] = state_->fds.size();
        state_->fds.push_back(WSAPOLLFD{s, events_of(interest), 0});
        state_->keys.push_back(key);
        return;
    }
    state_->fds[it->second].events = events_of(interest);
    state_->keys[it->second] = key;
}

void Poller::forget(SocketHandle socket) {
    watch(socket, 0, Interest::none);
}

bool Poller::wait(std::vector<PollEvent>& events, int timeout_ms) {
    events.clear();
    for (auto& fd : state_->fds) fd.revents = 0;
    int n = WSAPoll(state_->fds.data(), static_cast<ULONG>(state_->fds.size()), timeout_ms);
    if (n <= 0) return false;
    bool woken = false;
    if (state_->fds[0].revents) {
        char drain[256];
        while (recv(state_->wake_reader, drain, sizeof drain, 0) > 0) {
        }
        woken = true;
    }
    for (std::size_t i = 1; i < state_->fds.size(); ++i) {
        short revents = state_->fds[i].revents;
        if (!revents) continue;
        PollEvent event;
        event.key = state_->keys[i];
        event.readable = (revents & POLLRDNORM) != 0;
        event.writable = (revents & POLLWRNORM) != 0;
        event.hangup = (revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
        events.push_back(event);
    }
    return woken;
}

void Poller::wake() {
    // A full pair means a wake-up is pending already.
    send(state_->wake_writer, "w", 1, 0);
}
