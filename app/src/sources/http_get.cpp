#include "sources/http_get.h"

#include "http/body_reader.h"
#include "http/message_head.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace {
using Clock = std::chrono::steady_clock;
using Outcome = GetResult::Outcome;

// How often a wait looks at the cancel check.
constexpr auto cancel_poll = std::chrono::milliseconds(100);
constexpr std::size_t max_reply_head = 16 * 1024;

struct Socket {
    int fd = -1;
    ~Socket() {
        if (fd >= 0) ::close(fd);
    }
};

GetResult failure(Outcome outcome, std::string detail = {}) {
    GetResult result;
    result.outcome = outcome;
    result.detail = std::move(detail);
    return result;
}

// Waits for `events` on fd until the deadline, looking at the cancel check
// every tenth of a second. 1: ready, 0: deadline passed, -1: cancelled.
int wait_for(int fd, short events, Clock::time_point deadline, const CancelCheck& cancelled) {
    for (;;) {
        if (cancelled && cancelled()) return -1;
        auto now = Clock::now();
        if (now >= deadline) return 0;
        auto slice = std::min<Clock::duration>(deadline - now, cancel_poll);
        int ms = static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(slice).count());
        pollfd watch{fd, events, 0};
        int rc = ::poll(&watch, 1, ms);
        if (rc > 0) return 1;
        if (rc < 0 && errno != EINTR) return 1;  // let the next call report the error
    }
}

// getaddrinfo cannot be given a deadline, so a name is looked up on a thread
// of its own; when the deadline passes first, that thread finishes alone and
// frees what it found.
struct Lookup {
    std::mutex mutex;
    std::condition_variable finished_cv;
    bool finished = false;
    bool abandoned = false;
    int rc = 0;
    addrinfo* found = nullptr;
};

struct AddrinfoList {
    addrinfo* list = nullptr;
    ~AddrinfoList() {
        if (list) freeaddrinfo(list);
    }
};

addrinfo lookup_hints(int flags) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = flags | AI_NUMERICSERV;
    return hints;
}

// 0 with `out` filled, else a getaddrinfo code; EAI_AGAIN with `timed_out`
// set when the deadline came first, or with `was_cancelled` set.
int resolve(const HttpUrl& url, Clock::time_point deadline, const CancelCheck& cancelled, AddrinfoList& out,
            bool& timed_out, bool& was_cancelled) {
    std::string port = std::to_string(url.port);
    addrinfo numeric = lookup_hints(AI_NUMERICHOST);
    if (getaddrinfo(url.host.c_str(), port.c_str(), &numeric, &out.list) == 0) return 0;

    auto lookup = std::make_shared<Lookup>();
    std::thread([lookup, host = url.host, port] {
        addrinfo hints = lookup_hints(0);
        addrinfo* found = nullptr;
        int rc = getaddrinfo(host.c_str(), port.c_str(), &hints, &found);
        std::lock_guard lock(lookup->mutex);
        if (lookup->abandoned) {
            if (found) freeaddrinfo(found);
            return;
        }
        lookup->rc = rc;
        lookup->found = found;
        lookup->finished = true;
        lookup->finished_cv.notify_one();
    }).detach();

    std::unique_lock lock(lookup->mutex);
    for (;;) {
        if (lookup->finished) {
            out.list = lookup->found;
            return lookup->rc;
        }
        if (cancelled && cancelled()) {
            was_cancelled = true;
            break;
        }
        if (Clock::now() >= deadline) {
            timed_out = true;
            break;
        }
        lookup->finished_cv.wait_until(lock, std::min(deadline, Clock::now() + cancel_poll));
    }
    lookup->abandoned = true;
    return EAI_AGAIN;
}

// Connects to the first address that answers. `fd` is the connected socket.
GetResult connect_any(const addrinfo* list, const GetLimits& limits, Clock::time_point deadline,
                      const CancelCheck& cancelled, const AddressCheck& may_connect, Socket& sock) {
    Clock::time_point connect_deadline = std::min(deadline, Clock::now() + limits.connect_time);
    std::string last_error = "no address";
    bool any_allowed = false;
    for (const addrinfo* a = list; a; a = a->ai_next) {
        if (may_connect && !may_connect(a->ai_addr)) continue;
        any_allowed = true;
        Socket candidate;
        candidate.fd = ::socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
        if (candidate.fd < 0) {
            last_error = std::strerror(errno);
            continue;
        }
        int rc = ::connect(candidate.fd, a->ai_addr, a->ai_addrlen);
        if (rc != 0 && errno != EINPROGRESS) {
            last_error = std::strerror(errno);
            continue;
        }
        if (rc != 0) {
            int ready = wait_for(candidate.fd, POLLOUT, connect_deadline, cancelled);
            if (ready < 0) return failure(Outcome::cancelled);
            if (ready == 0) {
                last_error = "no connection within " + seconds_text(limits.connect_time);
                continue;
            }
            int error = 0;
            socklen_t length = sizeof error;
            getsockopt(candidate.fd, SOL_SOCKET, SO_ERROR, &error, &length);
            if (error != 0) {
                last_error = std::strerror(error);
                continue;
            }
        }
        std::swap(sock.fd, candidate.fd);
        return failure(Outcome::reply);
    }
    if (!any_allowed) return failure(Outcome::refused);
    return failure(Outcome::unreachable, last_error);
}

bool send_all(int fd, const std::string& bytes, Clock::time_point deadline, const CancelCheck& cancelled,
              GetResult& result) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        int ready = wait_for(fd, POLLOUT, deadline, cancelled);
        if (ready <= 0) {
            result = failure(ready < 0 ? Outcome::cancelled : Outcome::timed_out);
            return false;
        }
        ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
        if (n < 0) {
            result = failure(Outcome::unreachable, std::strerror(errno));
            return false;
        }
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

std::string host_header(const HttpUrl& url) {
    bool ipv6 = url.host.find(':') != std::string::npos;
    std::string host = ipv6 ? "[" + url.host + "]" : url.host;
    return url.port == 80 ? host : host + ":" + std::to_string(url.port);
}

struct ReplyReader {
    std::string head;  // until it is whole
    bool head_done = false;
    int status = 0;
    std::vector<std::pair<std::string, std::string>> headers;
    BodyReader body;
};

GetResult finished(ReplyReader& reader) {
    GetResult result;
    result.outcome = Outcome::reply;
    result.status = reader.status;
    for (const auto& [name, value] : reader.headers) {
        if (name == "content-type" && result.content_type.empty()) result.content_type = value;
    }
    result.body = std::move(reader.body.body);
    return result;
}

// nullopt while more of the reply is wanted.
std::optional<GetResult> feed_reply_body(ReplyReader& reader, std::string_view bytes) {
    std::size_t used = 0;
    switch (feed_body(reader.body, bytes, used)) {
        case BodyStatus::more:
            return std::nullopt;
        case BodyStatus::done:
            return finished(reader);
        case BodyStatus::too_large:
            return failure(Outcome::too_large);
        case BodyStatus::malformed:
            break;
    }
    return failure(Outcome::broken, "its chunked reply could not be read");
}

std::optional<GetResult> feed_reply(ReplyReader& reader, std::string_view bytes, const GetLimits& limits) {
    if (reader.head_done) return feed_reply_body(reader, bytes);
    std::size_t searched = reader.head.size() > 3 ? reader.head.size() - 3 : 0;
    reader.head.append(bytes);
    for (;;) {
        auto end = head_end(std::string_view(reader.head).substr(searched));
        if (!end) {
            if (reader.head.size() > max_reply_head) return failure(Outcome::broken, "its reply head is too large");
            return std::nullopt;
        }
        std::size_t head_length = searched + *end;
        reader.headers.clear();
        auto status = parse_reply_head(std::string_view(reader.head).substr(0, head_length), reader.headers);
        if (!status) return failure(Outcome::broken, "it did not answer in HTTP");
        std::string rest = reader.head.substr(head_length);
        if (*status < 200) {
            // An interim reply; the real one follows.
            reader.head = std::move(rest);
            searched = 0;
            continue;
        }
        reader.status = *status;
        reader.head_done = true;
        reader.head = std::string();
        FramingResult framing = body_framing(reader.headers, /*is_reply=*/true);
        if (framing.problem_status) return failure(Outcome::broken, framing.problem);
        reader.body = body_reader(framing.framing, framing.length, limits.max_body);
        if (framing.framing == BodyFraming::length && framing.length > limits.max_body) {
            return failure(Outcome::too_large);
        }
        return feed_reply_body(reader, rest);
    }
}

// The camera closed the connection.
GetResult reply_at_end(ReplyReader& reader) {
    if (!reader.head_done) return failure(Outcome::broken, "it closed the connection without a complete answer");
    if (end_body(reader.body) == BodyStatus::done) return finished(reader);
    std::uint64_t missing = body_bytes_missing(reader.body);
    return failure(Outcome::broken, missing ? "it closed the connection with " + std::to_string(missing) +
                                                  " bytes of the reply still to come"
                                            : "it closed the connection in the middle of its reply");
}
}  // namespace

std::string seconds_text(std::chrono::milliseconds limit) {
    auto ms = limit.count();
    if (ms % 1000 == 0) return std::to_string(ms / 1000) + (ms == 1000 ? " second" : " seconds");
    char text[32];
    std::snprintf(text, sizeof text, "%.1f seconds", static_cast<double>(ms) / 1000.0);
    return text;
}

GetResult http_get(const HttpUrl& url, const GetLimits& limits, const CancelCheck& cancelled,
                   const AddressCheck& may_connect) {
    Clock::time_point deadline = Clock::now() + limits.total_time;

    AddrinfoList addresses;
    bool timed_out = false, was_cancelled = false;
    int rc = resolve(url, std::min(deadline, Clock::now() + limits.connect_time), cancelled, addresses, timed_out,
                     was_cancelled);
    if (was_cancelled) return failure(Outcome::cancelled);
    if (timed_out)
        return failure(Outcome::unreachable, "its name did not resolve within " + seconds_text(limits.connect_time));
    if (rc != 0) return failure(Outcome::unreachable, gai_strerror(rc));

    Socket sock;
    GetResult connected = connect_any(addresses.list, limits, deadline, cancelled, may_connect, sock);
    if (sock.fd < 0) return connected;

    std::string request = "GET " + url.target + " HTTP/1.1\r\nHost: " + host_header(url) +
                          "\r\nUser-Agent: vistrel-app/" VISTREL_APP_VERSION
                          "\r\nAccept: image/jpeg, */*\r\nConnection: close\r\n\r\n";
    GetResult problem;
    if (!send_all(sock.fd, request, deadline, cancelled, problem)) return problem;

    ReplyReader reader;
    char buffer[65536];
    for (;;) {
        int ready = wait_for(sock.fd, POLLIN, deadline, cancelled);
        if (ready < 0) return failure(Outcome::cancelled);
        if (ready == 0) return failure(Outcome::timed_out);
        ssize_t n = ::recv(sock.fd, buffer, sizeof buffer, 0);
        if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) continue;
        if (n < 0) return failure(Outcome::broken, std::string("the connection failed: ") + std::strerror(errno));
        if (n == 0) return reply_at_end(reader);
        if (auto result = feed_reply(reader, std::string_view(buffer, static_cast<std::size_t>(n)), limits)) {
            return std::move(*result);
        }
    }
}
