#include "http/http_server.h"

#include "cancellation.h"
#include "http/body_reader.h"
#include "http/message_head.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <map>
#include <mutex>
#include <new>

namespace {
using Clock = std::chrono::steady_clock;

constexpr std::uint64_t listen_key = 0;
constexpr std::uint64_t wake_key = 1;
// Bytes read and dropped after a reply before the connection is simply closed.
constexpr std::size_t max_linger_bytes = 8 * 1024 * 1024;

enum class Phase { head, body, working, writing, lingering };

struct Connection {
    int fd = -1;
    Phase phase = Phase::head;
    Clock::time_point opened;
    Clock::time_point deadline;
    std::uint32_t events = 0;  // what epoll watches for; 0: not registered
    std::string in;            // the head as it arrives
    HttpRequest request;
    BodyReader body;
    std::size_t lane = 0;
    Handler handler;
    std::string method, path;  // kept for the log once the request has gone to a lane
    std::shared_ptr<std::atomic<bool>> gone = std::make_shared<std::atomic<bool>>(false);
    bool reset = false;  // the client's side is gone for good: nothing can be written
    std::string head_out, body_out;
    std::size_t sent = 0;
    Clock::time_point reply_started;
    std::size_t lingered = 0;
};

// A handler's outcome: a reply, or nullopt when it was cancelled.
struct Completion {
    std::uint64_t key;
    std::optional<Reply> reply;
};

std::optional<Reply> run_handler(const Handler& handler, const HttpRequest& request) {
    try {
        return handler(request);
    } catch (const Cancelled&) {
        return std::nullopt;
    } catch (const std::bad_alloc&) {
        return error_reply(500, "out of memory");
    } catch (const std::exception& e) {
        return error_reply(500, std::string("internal error: ") + e.what());
    } catch (...) {
        return error_reply(500, "internal error");
    }
}
}  // namespace

struct HttpServer::Loop {
    ServerSettings settings;
    int listen_fd = -1;
    int epoll_fd = -1;
    int wake_fd = -1;
    std::map<std::uint64_t, Connection> connections;
    std::uint64_t next_key = 2;
    std::vector<std::unique_ptr<WorkLane>> lanes;
    std::size_t unsent = 0;  // reply bytes of every connection still to write
    std::atomic<bool> stop_asked{false};
    std::shared_ptr<std::atomic<bool>> stopping = std::make_shared<std::atomic<bool>>(false);
    Clock::time_point stop_deadline = Clock::time_point::max();
    Clock::time_point accept_paused_until;

    std::mutex done_mutex;
    std::vector<Completion> done;

    explicit Loop(ServerSettings s) : settings(std::move(s)) {
        epoll_fd = epoll_create1(EPOLL_CLOEXEC);
        wake_fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
        if (epoll_fd < 0 || wake_fd < 0) throw std::runtime_error(std::string("epoll: ") + std::strerror(errno));
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.u64 = wake_key;
        epoll_ctl(epoll_fd, EPOLL_CTL_ADD, wake_fd, &event);
        for (const auto& lane : settings.lanes) lanes.push_back(std::make_unique<WorkLane>(lane));
    }

    ~Loop() {
        lanes.clear();  // joins the handler threads before anything they use goes
        for (auto& [key, connection] : connections) ::close(connection.fd);
        if (listen_fd >= 0) ::close(listen_fd);
        ::close(wake_fd);
        ::close(epoll_fd);
    }

    // --- epoll registration

    void watch(std::uint64_t key, Connection& c, std::uint32_t events) {
        if (events == c.events) return;
        epoll_event event{};
        event.events = events;
        event.data.u64 = key;
        if (events == 0) {
            epoll_ctl(epoll_fd, EPOLL_CTL_DEL, c.fd, nullptr);
        } else {
            epoll_ctl(epoll_fd, c.events == 0 ? EPOLL_CTL_ADD : EPOLL_CTL_MOD, c.fd, &event);
        }
        c.events = events;
    }

    void close_connection(std::uint64_t key) {
        auto it = connections.find(key);
        if (it == connections.end()) return;
        unsent -= unsent_of(it->second);
        ::close(it->second.fd);  // also takes it out of epoll
        connections.erase(it);
    }

    static std::size_t unsent_of(const Connection& c) {
        if (c.phase != Phase::writing) return 0;
        return c.head_out.size() + c.body_out.size() - c.sent;
    }

    // Drops the readers that have been slowest to take their replies until
    // the replies waiting for their readers fit the limit again.
    void keep_unsent_within_limit(std::uint64_t keep) {
        while (unsent > settings.limits.max_unsent) {
            auto oldest = connections.end();
            for (auto it = connections.begin(); it != connections.end(); ++it) {
                if (it->first == keep || it->second.phase != Phase::writing) continue;
                if (oldest == connections.end() || it->second.reply_started < oldest->second.reply_started) oldest = it;
            }
            if (oldest == connections.end()) return;
            close_connection(oldest->first);
        }
    }

    // --- accepting

    void listen_for_connections(bool on) {
        epoll_event event{};
        event.events = EPOLLIN;
        event.data.u64 = listen_key;
        epoll_ctl(epoll_fd, on ? EPOLL_CTL_ADD : EPOLL_CTL_DEL, listen_fd, &event);
    }

    void accept_connections() {
        for (int i = 0; i < 64; ++i) {
            int fd = accept4(listen_fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (fd < 0) {
                if (errno == EINTR || errno == ECONNABORTED) continue;
                if (errno == EMFILE || errno == ENFILE) {
                    // Out of descriptors: make room by dropping the slowest
                    // reader, else wait a little before trying again.
                    if (!drop_oldest_reader()) {
                        listen_for_connections(false);
                        accept_paused_until = Clock::now() + std::chrono::milliseconds(100);
                    }
                }
                return;
            }
            if (connections.size() >= settings.limits.max_connections && !drop_oldest_reader()) {
                const char busy[] =
                    "HTTP/1.1 503 Service Unavailable\r\nContent-Type: application/json\r\nContent-Length: 46\r\n"
                    "Connection: close\r\n\r\n{\"error\":\"vistrel-app has too many connections\"}";
                (void)!::send(fd, busy, sizeof busy - 1, MSG_NOSIGNAL);
                ::close(fd);
                continue;
            }
            std::uint64_t key = next_key++;
            Connection& c = connections[key];
            c.fd = fd;
            c.opened = Clock::now();
            c.deadline = c.opened + settings.limits.head_time;
            watch(key, c, EPOLLIN | EPOLLRDHUP);
        }
    }

    // Drops the connection that has been sending its request the longest.
    bool drop_oldest_reader() {
        auto oldest = connections.end();
        for (auto it = connections.begin(); it != connections.end(); ++it) {
            Phase phase = it->second.phase;
            if (phase != Phase::head && phase != Phase::body) continue;
            if (oldest == connections.end() || it->second.opened < oldest->second.opened) oldest = it;
        }
        if (oldest == connections.end()) return false;
        close_connection(oldest->first);
        return true;
    }

    // --- reading a request

    void read_request(std::uint64_t key, Connection& c) {
        char buffer[16384];
        for (int round = 0; round < 4; ++round) {
            ssize_t n = ::recv(c.fd, buffer, sizeof buffer, 0);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
            if (n <= 0) {
                // Gone before the request was whole.
                close_connection(key);
                return;
            }
            std::string_view bytes(buffer, static_cast<std::size_t>(n));
            if (c.phase == Phase::head) {
                std::size_t searched = c.in.size() > 3 ? c.in.size() - 3 : 0;
                c.in.append(bytes);
                auto end = head_end(std::string_view(c.in).substr(searched));
                if (!end) {
                    if (c.in.size() > max_head_bytes) {
                        HeadProblem problem = oversized_head(c.in);
                        return refuse(key, c, problem.status, problem.message);
                    }
                    continue;
                }
                std::string rest = c.in.substr(searched + *end);
                c.in.resize(searched + *end);
                if (c.in.size() > max_head_bytes) {
                    HeadProblem problem = oversized_head(c.in);
                    return refuse(key, c, problem.status, problem.message);
                }
                if (!take_head(key, c)) return;
                if (!take_body(key, c, rest)) return;
            } else if (c.phase == Phase::body) {
                if (!take_body(key, c, bytes)) return;
            } else {
                return;
            }
        }
    }

    // False when the connection has moved on (a refusal, or closed).
    bool take_head(std::uint64_t key, Connection& c) {
        if (auto problem = parse_request_head(c.in, c.request)) {
            refuse(key, c, problem->status, problem->message);
            return false;
        }
        c.in = std::string();
        c.method = c.request.method;
        c.path = c.request.path;
        Routing routing = settings.router(c.request);
        if (routing.reply) {
            start_reply(key, c, std::move(*routing.reply));
            return false;
        }
        FramingResult framing = body_framing(c.request.headers, /*is_reply=*/false);
        if (framing.problem_status) {
            refuse(key, c, framing.problem_status, framing.problem);
            return false;
        }
        if (framing.framing == BodyFraming::length && framing.length > settings.limits.max_body) {
            refuse_too_large(key, c);
            return false;
        }
        c.lane = std::min(routing.lane, lanes.size() - 1);
        c.handler = std::move(routing.handler);
        c.body = body_reader(framing.framing, framing.length, settings.limits.max_body);
        c.phase = Phase::body;
        c.deadline = Clock::now() + settings.limits.body_time;
        if (framing.framing != BodyFraming::none && header_value(c.request, "expect") == "100-continue") {
            const char go_on[] = "HTTP/1.1 100 Continue\r\n\r\n";
            (void)!::send(c.fd, go_on, sizeof go_on - 1, MSG_NOSIGNAL);
        }
        return true;
    }

    bool take_body(std::uint64_t key, Connection& c, std::string_view bytes) {
        std::size_t used = 0;
        switch (feed_body(c.body, bytes, used)) {
            case BodyStatus::more:
                return true;
            case BodyStatus::too_large:
                refuse_too_large(key, c);
                return false;
            case BodyStatus::malformed:
                refuse(key, c, 400, "the request body's chunks could not be read");
                return false;
            case BodyStatus::done:
                dispatch(key, c);
                return false;
        }
        return false;
    }

    void refuse(std::uint64_t key, Connection& c, int status, const std::string& message) {
        start_reply(key, c, error_reply(status, message));
    }

    void refuse_too_large(std::uint64_t key, Connection& c) {
        refuse(key, c, 413,
               "the request body is too large (at most " + std::to_string(settings.limits.max_body / 1024) + " KiB)");
    }

    // --- handing the request to its lane

    void dispatch(std::uint64_t key, Connection& c) {
        c.request.body = std::move(c.body.body);
        c.body = BodyReader();
        c.phase = Phase::working;
        c.deadline = Clock::time_point::max();
        // From now on only a hang-up matters; anything more the client sends
        // stays unread.
        watch(key, c, EPOLLRDHUP);

        WorkLane& lane = *lanes[c.lane];
        c.request.cancelled = [gone = c.gone, stopping = stopping] { return gone->load() || stopping->load(); };
        bool skip_when_gone = lane.settings().skip_when_gone;
        auto job = [this, key, skip_when_gone, request = std::move(c.request), handler = std::move(c.handler)] {
            std::optional<Reply> reply;
            if (!(skip_when_gone && request.cancelled())) reply = run_handler(handler, request);
            finished(Completion{key, std::move(reply)});
        };
        c.request = HttpRequest();
        if (!lane.submit(std::move(job))) start_reply(key, c, error_reply(503, lane.settings().busy_message));
    }

    // On a handler thread.
    void finished(Completion completion) {
        {
            std::lock_guard lock(done_mutex);
            done.push_back(std::move(completion));
        }
        std::uint64_t one = 1;
        (void)!::write(wake_fd, &one, sizeof one);
    }

    void take_completions() {
        std::uint64_t count;
        (void)!::read(wake_fd, &count, sizeof count);
        std::vector<Completion> ready;
        {
            std::lock_guard lock(done_mutex);
            ready.swap(done);
        }
        for (auto& completion : ready) {
            auto it = connections.find(completion.key);
            if (it == connections.end()) continue;
            Connection& c = it->second;
            if (c.reset || (!completion.reply && c.gone->load())) {
                close_connection(completion.key);
                continue;
            }
            if (!completion.reply) completion.reply = error_reply(503, "vistrel-app is stopping");
            start_reply(completion.key, c, std::move(*completion.reply));
        }
    }

    // --- writing the reply

    void start_reply(std::uint64_t key, Connection& c, Reply reply) {
        if (reply.status >= 400 && settings.log) {
            settings.log(c.method.empty() ? c.request.method : c.method, c.path.empty() ? c.request.path : c.path,
                         reply);
        }
        c.head_out = reply_head(reply);
        c.body_out = std::move(reply.body);
        c.sent = 0;
        c.phase = Phase::writing;
        c.reply_started = Clock::now();
        c.deadline = c.reply_started + settings.limits.write_time;
        unsent += unsent_of(c);
        keep_unsent_within_limit(key);
        watch(key, c, EPOLLOUT);
        write_reply(key, c);
    }

    void write_reply(std::uint64_t key, Connection& c) {
        for (;;) {
            std::size_t total = c.head_out.size() + c.body_out.size();
            if (c.sent >= total) break;
            iovec parts[2];
            int count = 0;
            if (c.sent < c.head_out.size()) {
                parts[count++] = {c.head_out.data() + c.sent, c.head_out.size() - c.sent};
                parts[count++] = {c.body_out.data(), c.body_out.size()};
            } else {
                std::size_t offset = c.sent - c.head_out.size();
                parts[count++] = {c.body_out.data() + offset, c.body_out.size() - offset};
            }
            msghdr message{};
            message.msg_iov = parts;
            message.msg_iovlen = static_cast<std::size_t>(count);
            ssize_t n = ::sendmsg(c.fd, &message, MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
            if (n <= 0) {
                close_connection(key);
                return;
            }
            c.sent += static_cast<std::size_t>(n);
            unsent -= static_cast<std::size_t>(n);
        }
        // Whole. Half-close and read what the client still sends until it
        // closes too, so that closing does not reset the connection and
        // destroy the reply before the client has read it.
        c.head_out = std::string();
        c.body_out = std::string();
        ::shutdown(c.fd, SHUT_WR);
        c.phase = Phase::lingering;
        c.deadline = Clock::now() + settings.limits.linger_time;
        watch(key, c, EPOLLIN | EPOLLRDHUP);
        linger(key, c);
    }

    void linger(std::uint64_t key, Connection& c) {
        char sink[16384];
        for (int round = 0; round < 4; ++round) {
            ssize_t n = ::recv(c.fd, sink, sizeof sink, 0);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
            c.lingered += n > 0 ? static_cast<std::size_t>(n) : 0;
            if (n <= 0 || c.lingered > max_linger_bytes) {
                close_connection(key);
                return;
            }
        }
    }

    // --- events and time

    void on_event(std::uint64_t key, std::uint32_t events) {
        auto it = connections.find(key);
        if (it == connections.end()) return;
        Connection& c = it->second;
        switch (c.phase) {
            case Phase::head:
            case Phase::body:
                read_request(key, c);
                break;
            case Phase::working:
                // The client hung up while its request is worked on: long
                // work sees its CancelCheck turn true. A reset connection
                // cannot take a reply any more.
                c.gone->store(true);
                if (events & (EPOLLHUP | EPOLLERR)) c.reset = true;
                watch(key, c, 0);
                break;
            case Phase::writing:
                if (events & (EPOLLHUP | EPOLLERR) && !(events & EPOLLOUT)) {
                    close_connection(key);
                } else {
                    write_reply(key, c);
                }
                break;
            case Phase::lingering:
                linger(key, c);
                break;
        }
    }

    void expire(Clock::time_point now) {
        std::vector<std::uint64_t> late;
        for (const auto& [key, c] : connections) {
            if (now >= c.deadline) late.push_back(key);
        }
        // A request that did not arrive in time is dropped without an answer:
        // whoever sends that slowly is not waiting for one.
        for (auto key : late) close_connection(key);
    }

    int wait_ms(Clock::time_point now) const {
        Clock::time_point next = now + std::chrono::seconds(1);
        for (const auto& [key, c] : connections) next = std::min(next, c.deadline);
        if (stop_asked) next = std::min(next, stop_deadline);
        if (accept_paused_until > now) next = std::min(next, accept_paused_until);
        auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(next - now).count() + 1;
        return static_cast<int>(std::clamp<long long>(ms, 0, 1000));
    }

    void begin_stop() {
        stopping->store(true);
        stop_deadline = Clock::now() + settings.limits.stop_time;
        if (listen_fd >= 0) {
            ::close(listen_fd);
            listen_fd = -1;
        }
        std::vector<std::uint64_t> readers;
        for (const auto& [key, c] : connections) {
            if (c.phase == Phase::head || c.phase == Phase::body) readers.push_back(key);
        }
        for (auto key : readers) close_connection(key);
    }

    void run() {
        bool stop_begun = false;
        epoll_event events[64];
        for (;;) {
            if (stop_asked && !stop_begun) {
                begin_stop();
                stop_begun = true;
            }
            Clock::time_point now = Clock::now();
            if (stop_begun && (connections.empty() || now >= stop_deadline)) break;
            int n = epoll_wait(epoll_fd, events, 64, wait_ms(now));
            for (int i = 0; i < n; ++i) {
                std::uint64_t key = events[i].data.u64;
                if (key == listen_key) {
                    if (!stop_begun) accept_connections();
                } else if (key == wake_key) {
                    take_completions();
                } else {
                    on_event(key, events[i].events);
                }
            }
            if (!stop_begun && accept_paused_until != Clock::time_point() && Clock::now() >= accept_paused_until) {
                accept_paused_until = Clock::time_point();
                listen_for_connections(true);
            }
            expire(Clock::now());
        }
    }
};

HttpServer::HttpServer(ServerSettings settings) : loop_(std::make_unique<Loop>(std::move(settings))) {}

HttpServer::~HttpServer() = default;

int HttpServer::listen_on(int port, std::string& error) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        error = std::strerror(errno);
        return -1;
    }
    // Not SO_REUSEPORT: a second app must not start on a port that is taken.
    int yes = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 512) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        error = std::strerror(errno);
        ::close(fd);
        return -1;
    }
    loop_->listen_fd = fd;
    loop_->listen_for_connections(true);
    return ntohs(address.sin_port);
}

void HttpServer::run() {
    loop_->run();
}

void HttpServer::stop() {
    loop_->stop_asked = true;
    std::uint64_t one = 1;
    (void)!::write(loop_->wake_fd, &one, sizeof one);
}
