// vistrel-app's HTTP server as a client meets it: the bytes go over a real
// loopback connection, in pieces, to one server kept running for the whole
// fuzz run, whose router and handler stand in for the app's (the access
// guard, then one handler that keeps the request it was given).
//
// Input: one byte read from the end (the size of the pieces the bytes are
// sent in, 0: all at once), then the bytes the client sends.
//
// Whatever the bytes, the server answers with one well-formed reply and
// closes, or closes without one when the client stopped short of a whole
// request (and shut down its side); it answers what a plain reading of the
// whole stream says (refusal statuses, or the handler with exactly that
// request and body; no body for HEAD).
#include <fuzzer/FuzzedDataProvider.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "check.h"
#include "http/access_guard.h"
#include "http/body_reader.h"
#include "http/http_server.h"
#include "http/message_head.h"

namespace {
constexpr std::size_t max_body = 1024;
// The port the access guard wants in Host, whatever port the server got.
constexpr int guarded_port = 7777;

struct Served {
    std::mutex mutex;
    std::optional<HttpRequest> request;  // what the handler was given
};

struct Running {
    Served served;
    std::unique_ptr<HttpServer> server;
    int port = 0;
};

Running& running() {
    static Running* instance = [] {
        auto* made = new Running;
        ServerSettings settings;
        settings.limits.head_time = std::chrono::milliseconds(2000);
        settings.limits.body_time = std::chrono::milliseconds(2000);
        settings.limits.linger_time = std::chrono::milliseconds(200);
        settings.limits.max_body = max_body;
        settings.lanes = {{"quick", 2, 16, 0, false, "busy"}};
        settings.router = [made](const HttpRequest& request) -> Routing {
            if (auto problem = access_problem(request, guarded_port)) return {error_reply(403, *problem), 0, {}};
            return {std::nullopt, 0, [made](const HttpRequest& request) {
                        std::lock_guard lock(made->served.mutex);
                        made->served.request = request;
                        return json_reply({{"ok", true}});
                    }};
        };
        made->server = std::make_unique<HttpServer>(std::move(settings));
        std::string error;
        made->port = made->server->listen_on(0, error);
        FUZZ_CHECK(made->port > 0, "the server could not listen");
        std::thread([made] { made->server->run(); }).detach();
        return made;
    }();
    return *instance;
}

// What a plain reading of the whole stream says the server must do.
struct Expected {
    bool complete = false;   // a reply is due without more bytes
    int status = 0;          // 0: no reply, the connection just closes
    bool head_only = false;  // a HEAD request: the reply has no body
    bool http_1_0 = false;   // no interim reply for it
    std::optional<HttpRequest> request;
};

Expected expected_answer(const std::string& bytes) {
    Expected expected;
    auto end = head_end(bytes);
    std::size_t head_size = end ? *end : bytes.size();
    if (head_size > max_head_bytes) {
        expected.complete = true;
        expected.status = oversized_head(bytes.substr(0, end ? *end : max_head_bytes + 1)).status;
        return expected;
    }
    if (!end) return expected;
    expected.complete = true;
    HttpRequest request;
    auto problem = parse_request_head(std::string_view(bytes).substr(0, *end), request);
    // Whatever the status, a reply to HEAD has no body.
    expected.head_only = request.method == "HEAD";
    expected.http_1_0 = request.version == "HTTP/1.0";
    if (problem) {
        expected.status = problem->status;
        return expected;
    }
    if (access_problem(request, guarded_port)) {
        expected.status = 403;
        return expected;
    }
    FramingResult framing = body_framing(request.headers, false);
    if (framing.problem_status) {
        expected.status = framing.problem_status;
        return expected;
    }
    if (framing.framing == BodyFraming::length && framing.length > max_body) {
        expected.status = 413;
        return expected;
    }
    BodyReader reader = body_reader(framing.framing, framing.length, max_body);
    std::size_t used = 0;
    switch (feed_body(reader, std::string_view(bytes).substr(*end), used)) {
        case BodyStatus::more:
            expected.complete = false;
            return expected;
        case BodyStatus::too_large:
            expected.status = 413;
            return expected;
        case BodyStatus::malformed:
            expected.status = 400;
            return expected;
        case BodyStatus::done:
            break;
    }
    expected.status = 200;
    request.body = std::move(reader.body);
    expected.request = std::move(request);
    return expected;
}

// Ends the client's side with a reset. The server closes first, so an
// ordinary close would leave the connection waiting out TIME_WAIT on the
// server's side; at hundreds of inputs a second those fill the loopback's
// ephemeral ports within a minute, and new connections then fail or stall.
void drop(int fd) {
    linger hard{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &hard, sizeof hard);
    ::close(fd);
}

// Sends the bytes in pieces, half-closes when no reply is due without more,
// and reads until the server closes. Nullopt when it does not close in time.
std::optional<std::string> exchange(const std::string& bytes, std::size_t piece, bool half_close, int port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    FUZZ_CHECK(fd >= 0, "no socket");
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        // Interrupted, the connection goes on being made: wait until it is.
        FUZZ_CHECK(errno == EINTR, "cannot connect");
        pollfd p{fd, POLLOUT, 0};
        while (::poll(&p, 1, 8000) < 0 && errno == EINTR) {
        }
        int error = 0;
        socklen_t length = sizeof error;
        FUZZ_CHECK(::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0 && (p.revents & POLLOUT),
                   "cannot connect");
    }
    for (std::size_t at = 0; at < bytes.size();) {
        std::size_t take = piece == 0 ? bytes.size() - at : std::min(piece, bytes.size() - at);
        ssize_t n = ::send(fd, bytes.data() + at, take, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;  // the server has answered and closed already
        at += static_cast<std::size_t>(n);
    }
    if (half_close) ::shutdown(fd, SHUT_WR);
    std::string reply;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(8);
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        // libFuzzer's timer signal interrupts the waits now and then.
        pollfd p{fd, POLLIN, 0};
        int ready = left.count() > 0 ? ::poll(&p, 1, static_cast<int>(left.count())) : 0;
        if (ready < 0 && errno == EINTR) continue;
        if (ready <= 0) {
            drop(fd);
            return std::nullopt;
        }
        char buffer[4096];
        ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        reply.append(buffer, static_cast<std::size_t>(n));
    }
    drop(fd);
    return reply;
}

bool same_request(const HttpRequest& a, const HttpRequest& b) {
    return a.method == b.method && a.target == b.target && a.version == b.version && a.authority == b.authority &&
           a.path == b.path && a.query == b.query && a.headers == b.headers && a.body == b.body;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider input(data, size);
    std::size_t piece = input.ConsumeIntegral<std::uint8_t>();
    std::string bytes = input.ConsumeRemainingBytesAsString();
    Running& server = running();
    {
        std::lock_guard lock(server.served.mutex);
        server.served.request.reset();
    }
    Expected expected = expected_answer(bytes);
    std::optional<std::string> reply = exchange(bytes, piece, !expected.complete, server.port);
    FUZZ_CHECK(reply.has_value(), "the server neither answered nor closed in time");

    // A request that expects 100-continue gets that interim reply first,
    // also when its body then never arrives whole; an HTTP/1.0 one never.
    const std::string go_on = "HTTP/1.1 100 Continue\r\n\r\n";
    if (reply->rfind(go_on, 0) == 0) {
        FUZZ_CHECK(!expected.http_1_0, "an interim reply to an HTTP/1.0 client");
        reply->erase(0, go_on.size());
    }
    if (expected.status == 0) {
        FUZZ_CHECK(reply->empty(), "a reply to a request that was never whole");
        return 0;
    }
    auto end = head_end(*reply);
    FUZZ_CHECK(end.has_value(), "the reply has no whole head");
    std::vector<std::pair<std::string, std::string>> headers;
    std::optional<int> status = parse_reply_head(std::string_view(*reply).substr(0, *end), headers);
    FUZZ_CHECK(status.has_value(), "the reply's head is not HTTP/1.1");
    FramingResult framing = body_framing(headers, true);
    FUZZ_CHECK(framing.framing == BodyFraming::length, "the reply has no Content-Length");
    if (expected.head_only) {
        FUZZ_CHECK(reply->size() == *end, "a reply to HEAD with a body");
    } else {
        FUZZ_CHECK(framing.length == reply->size() - *end, "the reply's Content-Length is not its body's length");
    }
    FUZZ_CHECK(*status == expected.status, "the server answered another status than the stream calls for");
    std::lock_guard lock(server.served.mutex);
    FUZZ_CHECK(server.served.request.has_value() == expected.request.has_value(),
               "the handler ran for a refused request, or not for a good one");
    if (expected.request) {
        FUZZ_CHECK(same_request(*server.served.request, *expected.request),
                   "the handler was given another request than the client sent");
    }
    return 0;
}
