#include "http/http_server.h"

#include "cancellation.h"
#include "http/body_reader.h"
#include "http/message_head.h"
#include "platform/app_socket.h"
#include "platform/descriptors.h"
#include "platform/poller.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <map>
#include <mutex>
#include <new>

namespace {
using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr std::uint64_t listen_key = 0;
// Bytes read and dropped, after a request or after its reply, before the
// client is no longer listened to.
constexpr std::size_t max_linger_bytes = 8 * 1024 * 1024;
// A reader is dropped to make room only once it has had this long to send
// what it has: the bytes of a client that has just connected may still be
// on their way, on a busy machine for a good while.
constexpr auto min_reader_age = 250ms;
// How often a client that half-closed its connection while its request is
// worked on is looked at again, to learn whether it hung up after all.
constexpr auto first_hangup_check = 5ms;
constexpr auto hangup_check = 100ms;
// How long accepting pauses when no room can be made for a new connection,
// unless one closes first.
constexpr auto accept_pause = 50ms;

enum class Phase { head, body, working, writing, lingering };

struct Connection {
    SocketHandle socket = no_socket;
    Phase phase = Phase::head;
    Clock::time_point opened;
    Clock::time_point deadline;
    // Also when to look again at a half-closed client, or to retry a write
    // whose socket reports a hang-up while it cannot take more bytes.
    Clock::time_point next_check = Clock::time_point::max();
    std::string in;  // the head as it arrives
    HttpRequest request;
    BodyReader body;
    std::size_t lane = 0;
    Handler handler;
    std::string method, path;  // kept for the log once the request has gone to a lane
    bool head_only = false;    // a HEAD request: the reply's head without its body
    std::shared_ptr<std::atomic<bool>> gone = std::make_shared<std::atomic<bool>>(false);
    bool half_closed = false;  // the client has sent all it will send
    bool reset = false;        // the client's side is gone for good: nothing can be written
    std::string head_out, body_out;
    std::size_t sent = 0;
    Clock::time_point reply_started;
    std::size_t lingered = 0;  // bytes read and dropped
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

// `text` is `lower`, whatever the case of its letters.
bool same_ignoring_case(const std::string& text, std::string_view lower) {
    if (text.size() != lower.size()) return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(text[i])) != lower[i]) return false;
    }
    return true;
}
}  // namespace

struct HttpServer::Loop {
    ServerSettings settings;
    Poller poller;
    SocketHandle listener = no_socket;
    bool accepting = false;  // the listener is watched
    Clock::time_point accept_paused_until;
    Clock::time_point full_since;  // since when every connection is being answered
    // Connections held at once: max_connections, or fewer when the
    // descriptor limit leaves less room beside the reserve for the work.
    std::size_t capacity = 0;
    std::map<std::uint64_t, Connection> connections;  // in the order they came
    std::uint64_t next_key = 1;
    std::vector<std::unique_ptr<WorkLane>> lanes;
    std::size_t unsent = 0;  // reply bytes of every connection still to write
    std::atomic<bool> stop_asked{false};
    std::shared_ptr<std::atomic<bool>> stopping = std::make_shared<std::atomic<bool>>(false);
    Clock::time_point stop_deadline = Clock::time_point::max();

    std::mutex done_mutex;
    std::vector<Completion> done;

    explicit Loop(ServerSettings s) : settings(std::move(s)), capacity(settings.limits.max_connections) {
        for (const auto& lane : settings.lanes) lanes.push_back(std::make_unique<WorkLane>(lane));
    }

    ~Loop() {
        lanes.clear();  // joins the handler threads before anything they use goes
        for (auto& [key, connection] : connections) {
            poller.forget(connection.socket);
            close_socket(connection.socket);
        }
        close_listener();
    }

    // --- registration

    void watch(std::uint64_t key, Connection& c, Interest interest) { poller.watch(c.socket, key, interest); }

    void close_connection(std::uint64_t key) {
        auto it = connections.find(key);
        if (it == connections.end()) return;
        unsent -= unsent_of(it->second);
        poller.forget(it->second.socket);
        close_socket(it->second.socket);
        connections.erase(it);
        // Room again for a connection waiting to be taken.
        if (!accepting && listener != no_socket && accept_paused_until != Clock::time_point()) resume_accepting();
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

    void close_listener() {
        if (listener == no_socket) return;
        poller.forget(listener);
        close_socket(listener);
        listener = no_socket;
        accepting = false;
    }

    void pause_accepting(Clock::time_point until) {
        poller.watch(listener, listen_key, Interest::none);
        accepting = false;
        accept_paused_until = until;
    }

    void resume_accepting() {
        accept_paused_until = Clock::time_point();
        poller.watch(listener, listen_key, Interest::read);
        accepting = true;
    }

    void accept_connections() {
        for (int i = 0; i < 64; ++i) {
            // Refusals being written count too, so that what is answered
            // never exceeds the capacity.
            bool full = false;
            while (!full && connections.size() >= capacity) {
                Room room = make_room();
                if (room.made) continue;
                if (room.later) {
                    // The next ones wait in the system's queue until a
                    // reader has had its moment.
                    pause_accepting(*room.later);
                    return;
                }
                full = true;
            }
            if (!full) {
                full_since = Clock::time_point();
            } else if (full_since == Clock::time_point() || Clock::now() - full_since < accept_pause) {
                // Every connection is being answered: quick answers free
                // some soon, so the next ones wait in the system's queue a
                // moment before anyone is turned away.
                if (full_since == Clock::time_point()) full_since = Clock::now();
                pause_accepting(full_since + accept_pause);
                return;
            } else if (connections.size() >= capacity + overflow()) {
                // Refusals are being written too: the next ones wait in the
                // system's queue, their requests unread, until one ends.
                pause_accepting(Clock::now() + accept_pause);
                return;
            }
            SocketResult accepted = accept_connection(listener);
            if (accepted.status == SocketStatus::would_block) return;
            if (accepted.status == SocketStatus::out_of_descriptors) {
                // The work holds more than its reserve; it gives them back
                // as it ends.
                Room room = make_room();
                if (!room.made) pause_accepting(room.later.value_or(Clock::now() + accept_pause));
                return;
            }
            if (accepted.status != SocketStatus::done) continue;  // gone before it was taken
            std::uint64_t key = next_key++;
            Connection& c = connections[key];
            c.socket = accepted.socket;
            c.opened = Clock::now();
            c.deadline = c.opened + settings.limits.head_time;
            watch(key, c, Interest::read);
            if (full) {
                // Every connection has been busy for a while: this one is
                // told so at once, in a whole reply; what it sends is read
                // and dropped after it, so that closing does not reset the
                // connection.
                start_reply(key, c, error_reply(503, "vistrel-app has too many connections"), /*log=*/false);
                continue;
            }
            // A client usually sends its request with the connection: read it
            // now, so that a burst of requests is served rather than dropped.
            read_request(key, c);
        }
    }

    // Connections past the capacity that may be open at once to be refused:
    // a few, so that a flood is told to come back rather than kept waiting.
    std::size_t overflow() const { return std::max<std::size_t>(1, capacity / 8); }

    // What make_room came to: a connection gone, or when to try again (a
    // reader has not yet had its moment), or neither.
    struct Room {
        bool made = false;
        std::optional<Clock::time_point> later;
    };

    // Makes room for one more connection: the reader that has been sending
    // its request the longest goes (once what it has sent is read, since a
    // complete request is answered, not dropped), else the oldest client
    // that has its whole reply.
    Room make_room() {
        Clock::time_point now = Clock::now();
        std::vector<std::uint64_t> readers;
        for (const auto& [key, c] : connections) {
            if (c.phase == Phase::head || c.phase == Phase::body) readers.push_back(key);
        }
        std::optional<Clock::time_point> later;
        for (std::uint64_t key : readers) {
            auto it = connections.find(key);
            if (it == connections.end()) continue;
            read_request(key, it->second);
            it = connections.find(key);
            if (it == connections.end()) return {true, {}};  // it turned out to be gone
            Connection& c = it->second;
            if (c.phase != Phase::head && c.phase != Phase::body) continue;
            if (now - c.opened >= min_reader_age) {
                close_connection(key);
                return {true, {}};
            }
            if (!later) later = c.opened + min_reader_age;
        }
        for (auto& [key, c] : connections) {
            if (c.phase != Phase::lingering) continue;
            // Its reply is with the system already; what it sent since is
            // read first, so that closing does not reset the connection.
            drain(c);
            close_connection(key);
            return {true, {}};
        }
        return {false, later};
    }

    // --- reading a request

    void read_request(std::uint64_t key, Connection& c) {
        char buffer[16384];
        for (int round = 0; round < 4; ++round) {
            if (c.phase != Phase::head && c.phase != Phase::body) return;
            SocketResult got = receive_some(c.socket, buffer, sizeof buffer);
            if (got.status == SocketStatus::would_block) return;
            if (got.status != SocketStatus::done) {
                // Gone, or all sent, before the request was whole: nobody
                // will complete it.
                close_connection(key);
                return;
            }
            std::string_view bytes(buffer, got.bytes);
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
            } else {
                if (!take_body(key, c, bytes)) return;
            }
        }
    }

    // False when the connection has moved on (a refusal, or closed).
    bool take_head(std::uint64_t key, Connection& c) {
        auto problem = parse_request_head(c.in, c.request);
        c.head_only = c.request.method == "HEAD";
        if (problem) {
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
        // Interim replies are HTTP/1.1's: a 1.0 client would take one for
        // the reply itself.
        if (framing.framing != BodyFraming::none && c.request.version == "HTTP/1.1" &&
            same_ignoring_case(header_value(c.request, "expect"), "100-continue")) {
            // The connection is fresh: its buffer takes these few bytes.
            send_some(c.socket, "HTTP/1.1 100 Continue\r\n\r\n");
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
                c.lingered += bytes.size() - used;  // sent after the request: dropped
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
        c.request.arrived = Clock::now();
        c.body = BodyReader();
        c.phase = Phase::working;
        c.deadline = Clock::time_point::max();
        // Still read: a client that hangs up shows as the end of its stream
        // (see watch_working).

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
        poller.wake();
    }

    void take_completions() {
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

    // --- while the request is worked on

    // The end of the client's stream does not end its request: a client may
    // shut down its sending side once it has sent it, and waits for the
    // reply. Only a client that has gone altogether stops its work. The two
    // look alike until something is sent: a closed socket answers with a
    // reset, so the client gets an urgent byte, which one that is still
    // there never sees among the reply's bytes; then the connection is
    // looked at now and then for that reset.
    void watch_working(std::uint64_t key, Connection& c) {
        if (c.half_closed) {
            if (connection_reset(c.socket)) return client_gone(key, c);
            c.next_check = Clock::now() + hangup_check;
            return;
        }
        char sink[16384];
        for (int round = 0; round < 4; ++round) {
            SocketResult got = receive_some(c.socket, sink, sizeof sink);
            if (got.status == SocketStatus::would_block) return;
            if (got.status == SocketStatus::done) {
                // More than the request: not read, and dropped.
                c.lingered += got.bytes;
                if (c.lingered > max_linger_bytes) {
                    watch(key, c, Interest::none);
                    return;
                }
                continue;
            }
            if (got.status != SocketStatus::ended) return client_gone(key, c);
            c.half_closed = true;
            // A socket whose peer has ended its stream stays readable for
            // good: from now on it is looked at on a timer.
            watch(key, c, Interest::none);
            SocketResult probed = send_urgent_probe(c.socket);
            if (probed.status != SocketStatus::done && probed.status != SocketStatus::would_block) {
                return client_gone(key, c);
            }
            c.next_check = Clock::now() + first_hangup_check;
            return;
        }
    }

    // Long work sees its CancelCheck turn true; nothing can be written any
    // more.
    void client_gone(std::uint64_t key, Connection& c) {
        c.gone->store(true);
        c.reset = true;
        c.next_check = Clock::time_point::max();
        watch(key, c, Interest::none);
    }

    // --- writing the reply

    void start_reply(std::uint64_t key, Connection& c, Reply reply, bool log = true) {
        if (reply.status >= 400 && log && settings.log) {
            settings.log(c.method.empty() ? c.request.method : c.method, c.path.empty() ? c.request.path : c.path,
                         reply);
        }
        c.head_out = reply_head(reply);
        // A reply to HEAD is the head GET would get, Content-Length and all.
        c.body_out = c.head_only ? std::string() : std::move(reply.body);
        c.sent = 0;
        c.phase = Phase::writing;
        c.next_check = Clock::time_point::max();
        c.reply_started = Clock::now();
        c.deadline = c.reply_started + settings.limits.write_time;
        unsent += unsent_of(c);
        keep_unsent_within_limit(key);
        watch(key, c, Interest::write);
        write_reply(key, c, /*hung_up=*/false);
    }

    void write_reply(std::uint64_t key, Connection& c, bool hung_up) {
        for (;;) {
            std::size_t total = c.head_out.size() + c.body_out.size();
            if (c.sent >= total) break;
            std::string_view head = c.head_out, body = c.body_out;
            SocketResult wrote = c.sent < head.size() ? send_some(c.socket, head.substr(c.sent), body)
                                                      : send_some(c.socket, body.substr(c.sent - head.size()));
            if (wrote.status == SocketStatus::would_block) {
                if (hung_up) {
                    // The client has shut down its side and reads slowly:
                    // where its socket reports that for good (WSAPoll), the
                    // write is retried on a timer rather than on every wait.
                    watch(key, c, Interest::none);
                    c.next_check = Clock::now() + first_hangup_check;
                } else {
                    watch(key, c, Interest::write);
                }
                return;
            }
            if (wrote.status != SocketStatus::done || wrote.bytes == 0) {
                close_connection(key);
                return;
            }
            c.sent += wrote.bytes;
            unsent -= wrote.bytes;
        }
        // Whole. Half-close and read what the client still sends until it
        // closes too, so that closing does not reset the connection and
        // destroy the reply before the client has read it.
        c.head_out = std::string();
        c.body_out = std::string();
        shut_down_sending(c.socket);
        c.phase = Phase::lingering;
        c.next_check = Clock::time_point::max();
        c.deadline = Clock::now() + settings.limits.linger_time;
        watch(key, c, Interest::read);
        if (drain(c)) close_connection(key);
    }

    // Reads and drops what a client sends after its reply. True when it has
    // sent all it will (or too much): the connection can close without a
    // reset. False while it may send more, or when it is closed already.
    bool drain(Connection& c) {
        char sink[16384];
        for (int round = 0; round < 4; ++round) {
            SocketResult got = receive_some(c.socket, sink, sizeof sink);
            if (got.status == SocketStatus::would_block) return false;
            if (got.status != SocketStatus::done) return true;
            c.lingered += got.bytes;
            if (c.lingered > max_linger_bytes) return true;
        }
        return false;
    }

    // --- events and time

    void on_event(const PollEvent& event) {
        auto it = connections.find(event.key);
        if (it == connections.end()) return;
        Connection& c = it->second;
        switch (c.phase) {
            case Phase::head:
            case Phase::body:
                read_request(event.key, c);
                break;
            case Phase::working:
                watch_working(event.key, c);
                break;
            case Phase::writing:
                write_reply(event.key, c, event.hangup && !event.writable);
                break;
            case Phase::lingering:
                if (drain(c)) close_connection(event.key);
                break;
        }
    }

    void on_timer(std::uint64_t key, Connection& c) {
        c.next_check = Clock::time_point::max();
        if (c.phase == Phase::working) {
            watch_working(key, c);
        } else if (c.phase == Phase::writing) {
            write_reply(key, c, /*hung_up=*/false);
        }
    }

    void expire(Clock::time_point now) {
        std::vector<std::uint64_t> late, due;
        for (const auto& [key, c] : connections) {
            if (now >= c.deadline) {
                late.push_back(key);
            } else if (now >= c.next_check) {
                due.push_back(key);
            }
        }
        // A request that did not arrive in time is dropped without an answer:
        // whoever sends that slowly is not waiting for one.
        for (auto key : late) close_connection(key);
        for (auto key : due) {
            auto it = connections.find(key);
            if (it != connections.end()) on_timer(key, it->second);
        }
    }

    int wait_ms(Clock::time_point now) const {
        Clock::time_point next = now + 1s;
        for (const auto& [key, c] : connections) next = std::min({next, c.deadline, c.next_check});
        if (stop_asked) next = std::min(next, stop_deadline);
        if (accept_paused_until > now) next = std::min(next, accept_paused_until);
        auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(next - now).count() + 1;
        return static_cast<int>(std::clamp<long long>(ms, 0, 1000));
    }

    void begin_stop() {
        stopping->store(true);
        stop_deadline = Clock::now() + settings.limits.stop_time;
        close_listener();
        std::vector<std::uint64_t> readers;
        for (const auto& [key, c] : connections) {
            if (c.phase == Phase::head || c.phase == Phase::body) readers.push_back(key);
        }
        for (auto key : readers) close_connection(key);
    }

    void run() {
        bool stop_begun = false;
        std::vector<PollEvent> events;
        for (;;) {
            if (stop_asked && !stop_begun) {
                begin_stop();
                stop_begun = true;
            }
            Clock::time_point now = Clock::now();
            if (stop_begun && (connections.empty() || now >= stop_deadline)) break;
            poller.wait(events, wait_ms(now));
            take_completions();
            for (const auto& event : events) {
                if (event.key == listen_key) {
                    if (!stop_begun && listener != no_socket) accept_connections();
                } else {
                    on_event(event);
                }
            }
            if (!stop_begun && listener != no_socket && !accepting && Clock::now() >= accept_paused_until) {
                resume_accepting();
                accept_connections();
            }
            expire(Clock::now());
        }
    }
};

HttpServer::HttpServer(ServerSettings settings) : loop_(std::make_unique<Loop>(std::move(settings))) {}

HttpServer::~HttpServer() = default;

int HttpServer::listen_on(int port, std::string& error) {
    if (auto problem = start_sockets()) {
        error = *problem;
        return -1;
    }
    Listening listening = listen_on_loopback(port);
    if (listening.socket == no_socket) {
        error = listening.error;
        return -1;
    }
    // The work (files, cameras, the display, children) needs descriptors of
    // its own: connections may use only what is left beside its reserve.
    const ServerLimits& limits = loop_->settings.limits;
    if (auto left = descriptors_left()) {
        std::size_t room = *left > limits.descriptor_reserve ? *left - limits.descriptor_reserve : *left / 2;
        loop_->capacity = std::max<std::size_t>(1, std::min(limits.max_connections, room));
    }
    loop_->listener = listening.socket;
    loop_->resume_accepting();
    return listening.port;
}

void HttpServer::run() {
    loop_->run();
}

void HttpServer::stop() {
    loop_->stop_asked = true;
    loop_->poller.wake();
}
