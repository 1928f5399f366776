#include "platform/poller.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string>
#include <unordered_map>

namespace {
// Reading includes the peer's end of sending (EPOLLRDHUP), which is
// reported even while unread bytes remain before it.
constexpr std::uint32_t events_of(Interest interest) {
    switch (interest) {
        case Interest::read:
            return EPOLLIN | EPOLLRDHUP;
        case Interest::write:
            return EPOLLOUT;
        case Interest::none:
            break;
    }
    return 0;
}
}  // namespace

struct Poller::State {
    int epoll_fd = -1;
    int wake_fd = -1;
    // What each watched socket is registered with, and its key; epoll
    // carries the descriptor, so that the eventfd is told apart from them.
    std::unordered_map<int, std::pair<std::uint64_t, Interest>> watched;
    epoll_event ready[256];
};

Poller::Poller() : state_(std::make_unique<State>()) {
    state_->epoll_fd = epoll_create1(EPOLL_CLOEXEC);
    state_->wake_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (state_->epoll_fd < 0 || state_->wake_fd < 0) {
        std::string reason = std::strerror(errno);
        if (state_->epoll_fd >= 0) ::close(state_->epoll_fd);
        if (state_->wake_fd >= 0) ::close(state_->wake_fd);
        throw std::runtime_error("cannot watch connections: " + reason);
    }
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = state_->wake_fd;
    epoll_ctl(state_->epoll_fd, EPOLL_CTL_ADD, state_->wake_fd, &event);
}

Poller::~Poller() {
    ::close(state_->wake_fd);
    ::close(state_->epoll_fd);
}

void Poller::watch(SocketHandle socket, std::uint64_t key, Interest interest) {
    int fd = static_cast<int>(socket);
    auto it = state_->watched.find(fd);
    if (interest == Interest::none) {
        if (it == state_->watched.end()) return;
        epoll_ctl(state_->epoll_fd, EPOLL_CTL_DEL, fd, nullptr);
        state_->watched.erase(it);
        return;
    }
    if (it != state_->watched.end() && it->second == std::make_pair(key, interest)) return;
    epoll_event event{};
    event.events = events_of(interest);
    event.data.fd = fd;
    int op = it == state_->watched.end() ? EPOLL_CTL_ADD : EPOLL_CTL_MOD;
    if (epoll_ctl(state_->epoll_fd, op, fd, &event) != 0) {
        // A descriptor closed without being unwatched left the set by itself;
        // its number may since belong to another socket.
        if (errno == ENOENT) epoll_ctl(state_->epoll_fd, EPOLL_CTL_ADD, fd, &event);
        if (errno == EEXIST) epoll_ctl(state_->epoll_fd, EPOLL_CTL_MOD, fd, &event);
    }
    state_->watched[fd] = {key, interest};
}

void Poller::forget(SocketHandle socket) {
    state_->watched.erase(static_cast<int>(socket));
}

bool Poller::wait(std::vector<PollEvent>& events, int timeout_ms) {
    events.clear();
    int n = epoll_wait(state_->epoll_fd, state_->ready, 256, timeout_ms);
    bool woken = false;
    for (int i = 0; i < n; ++i) {
        const epoll_event& e = state_->ready[i];
        if (e.data.fd == state_->wake_fd) {
            std::uint64_t count;
            (void)!::read(state_->wake_fd, &count, sizeof count);
            woken = true;
            continue;
        }
        auto it = state_->watched.find(e.data.fd);
        if (it == state_->watched.end()) continue;
        PollEvent event;
        event.key = it->second.first;
        event.readable = (e.events & EPOLLIN) != 0;
        event.writable = (e.events & EPOLLOUT) != 0;
        event.hangup = (e.events & (EPOLLRDHUP | EPOLLHUP | EPOLLERR)) != 0;
        events.push_back(event);
    }
    return woken;
}

void Poller::wake() {
    std::uint64_t one = 1;
    (void)!::write(state_->wake_fd, &one, sizeof one);
}
