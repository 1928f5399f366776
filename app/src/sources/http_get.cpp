#include "sources/http_get.h"

#include "http/body_reader.h"
#include "http/message_head.h"

#include <condition_variable>
#include <cstdio>
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
    SocketHandle handle = no_socket;
    ~Socket() { close_socket(handle); }
};

GetResult failure(Outcome outcome, std::string detail = {}) {
    GetResult result;
    result.outcome = outcome;
    result.detail = std::move(detail);
    return result;
}

// The next slice of a wait: until the deadline, at most a tenth of a second,
// so that the cancel check is asked in between.
int slice_ms(Clock::time_point deadline) {
    auto slice = std::min<Clock::duration>(deadline - Clock::now(), cancel_poll);
    return static_cast<int>(std::max<long long>(0, std::chrono::ceil<std::chrono::milliseconds>(slice).count()));
}

// Waits until the socket can be read (or written) or the deadline passes,
// looking at the cancel check every tenth of a second. 1: ready, 0: deadline
// passed, -1: cancelled.
int wait_for(SocketHandle socket, bool for_writing, Clock::time_point deadline, const CancelCheck& cancelled) {
    for (;;) {
        if (cancelled && cancelled()) return -1;
        if (Clock::now() >= deadline) return 0;
        if (wait_until_ready(socket, for_writing, slice_ms(deadline))) return 1;
    }
}

// A name cannot be looked up under a deadline, so it is looked up on a
// thread of its own; when the deadline passes first, that thread finishes
// alone.
struct Lookup {
    std::mutex mutex;
    std::condition_variable finished_cv;
    bool finished = false;
    Resolved found;
};

// The addresses, or why there are none; `timed_out` or `was_cancelled` set
// when the deadline or the cancel check came first.
Resolved resolve(const HttpUrl& url, Clock::time_point deadline, const CancelCheck& cancelled, bool& timed_out,
                 bool& was_cancelled) {
    Resolved numeric = numeric_addresses(url.host, url.port);
    if (!numeric.addresses.empty()) return numeric;

    auto lookup = std::make_shared<Lookup>();
    std::thread([lookup, host = url.host, port = url.port] {
        Resolved found = look_up_addresses(host, port);
        std::lock_guard lock(lookup->mutex);
        lookup->found = std::move(found);
        lookup->finished = true;
        lookup->finished_cv.notify_one();
    }).detach();

    std::unique_lock lock(lookup->mutex);
    for (;;) {
        if (lookup->finished) return std::move(lookup->found);
        if (cancelled && cancelled()) {
            was_cancelled = true;
            return {};
        }
        if (Clock::now() >= deadline) {
            timed_out = true;
            return {};
        }
        lookup->finished_cv.wait_until(lock, std::min(deadline, Clock::now() + cancel_poll));
    }
}

// Connects to the first address that answers, into `sock`.
GetResult connect_any(const std::vector<NetAddress>& addresses, const GetLimits& limits, Clock::time_point deadline,
                      const CancelCheck& cancelled, const AddressCheck& may_connect, Socket& sock) {
    Clock::time_point connect_deadline = std::min(deadline, Clock::now() + limits.connect_time);
    std::string last_error = "no address";
    bool any_allowed = false;
    for (const NetAddress& address : addresses) {
        if (may_connect && !may_connect(address)) continue;
        any_allowed = true;
        Socket candidate;
        SocketResult started = start_connect(address);
        candidate.handle = started.socket;
        if (started.status != SocketStatus::done && started.status != SocketStatus::in_progress) {
            last_error = socket_error_text(started.code);
            continue;
        }
        SocketResult made = started;
        while (made.status == SocketStatus::in_progress || made.status == SocketStatus::would_block) {
            if (cancelled && cancelled()) return failure(Outcome::cancelled);
            if (Clock::now() >= connect_deadline) break;
            made = finish_connect(candidate.handle, slice_ms(connect_deadline));
        }
        if (made.status == SocketStatus::in_progress || made.status == SocketStatus::would_block) {
            last_error = "no connection within " + seconds_text(limits.connect_time);
            continue;
        }
        if (made.status != SocketStatus::done) {
            last_error = socket_error_text(made.code);
            continue;
        }
        std::swap(sock.handle, candidate.handle);
        return failure(Outcome::reply);
    }
    if (!any_allowed) return failure(Outcome::refused);
    return failure(Outcome::unreachable, last_error);
}

bool send_all(SocketHandle socket, const std::string& bytes, Clock::time_point deadline, const CancelCheck& cancelled,
              GetResult& result) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        int ready = wait_for(socket, /*for_writing=*/true, deadline, cancelled);
        if (ready <= 0) {
            result = failure(ready < 0 ? Outcome::cancelled : Outcome::timed_out);
            return false;
        }
        SocketResult wrote = send_some(socket, std::string_view(bytes).substr(sent));
        if (wrote.status == SocketStatus::would_block) continue;
        if (wrote.status != SocketStatus::done) {
            result = failure(Outcome::unreachable, socket_error_text(wrote.code));
            return false;
        }
        sent += wrote.bytes;
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
    if (auto problem = start_sockets()) return failure(Outcome::unreachable, *problem);

    bool timed_out = false, was_cancelled = false;
    Resolved addresses =
        resolve(url, std::min(deadline, Clock::now() + limits.connect_time), cancelled, timed_out, was_cancelled);
    if (was_cancelled) return failure(Outcome::cancelled);
    if (timed_out)
        return failure(Outcome::unreachable, "its name did not resolve within " + seconds_text(limits.connect_time));
    if (addresses.addresses.empty()) return failure(Outcome::unreachable, addresses.error);

    Socket sock;
    GetResult connected = connect_any(addresses.addresses, limits, deadline, cancelled, may_connect, sock);
    if (sock.handle == no_socket) return connected;

    std::string request = "GET " + url.target + " HTTP/1.1\r\nHost: " + host_header(url) +
                          "\r\nUser-Agent: vistrel-app/" VISTREL_APP_VERSION
                          "\r\nAccept: image/jpeg, */*\r\nConnection: close\r\n\r\n";
    GetResult problem;
    if (!send_all(sock.handle, request, deadline, cancelled, problem)) return problem;

    ReplyReader reader;
    std::vector<char> buffer(65536);
    for (;;) {
        int ready = wait_for(sock.handle, /*for_writing=*/false, deadline, cancelled);
        if (ready < 0) return failure(Outcome::cancelled);
        if (ready == 0) return failure(Outcome::timed_out);
        SocketResult got = receive_some(sock.handle, buffer.data(), buffer.size());
        if (got.status == SocketStatus::would_block) continue;
        if (got.status == SocketStatus::ended) return reply_at_end(reader);
        if (got.status != SocketStatus::done) {
            return failure(Outcome::broken, "the connection failed: " + socket_error_text(got.code));
        }
        if (auto result = feed_reply(reader, std::string_view(buffer.data(), got.bytes), limits)) {
            return std::move(*result);
        }
    }
}
