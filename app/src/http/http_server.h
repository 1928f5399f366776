#pragma once
// The app's HTTP/1.1 server: one thread watches every connection (a Poller:
// epoll on Linux, WSAPoll on Windows) and reads each request without
// blocking, under deadlines and size limits; complete requests run on the
// handler threads of their lane (work_lanes.h); the reply goes back through
// the same thread, which writes it under a deadline and closes the
// connection. One request per connection.
//
// Every complete request is answered or refused: a client that shuts down
// its sending side after its request still gets the reply (only one that
// has gone altogether cancels its work), and a reply to HEAD is GET's head.
// When connections run short, the requests that have arrived are read
// before anyone is dropped: the reader that has been sending the longest
// (for a quarter second at least) goes, or a client that has its reply.
// New connections wait to be taken meanwhile; once every connection has
// been busy for 50 ms, a few more are refused with a whole 503 reply.
#include "http/http_request.h"
#include "http/reply.h"
#include "http/work_lanes.h"

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct ServerLimits {
    std::chrono::milliseconds head_time{5000};    // from connecting to the end of the head
    std::chrono::milliseconds body_time{10000};   // from the end of the head to the end of the body
    std::chrono::milliseconds write_time{60000};  // to write the whole reply
    std::chrono::milliseconds linger_time{2000};  // to read what the client still sends after the reply
    std::chrono::milliseconds stop_time{5000};    // for answers still being made when the server stops
    std::size_t max_body = 64 * 1024;             // however the body is sent
    std::size_t max_connections = 512;
    // Descriptors left to the work itself (files, cameras, the display,
    // children): connections stop being taken before they would use these.
    std::size_t descriptor_reserve = 32;
    // Reply bytes not yet taken by their clients, all connections together;
    // past it the reply that has waited longest for its reader is dropped.
    std::size_t max_unsent = 256 * 1024 * 1024;
};

// Runs on a handler thread. It may throw Cancelled (see cancellation.h) or
// anything else (500); refusals are replies like any other.
using Handler = std::function<Reply(const HttpRequest&)>;

// Decided on the server's thread as soon as the head is in, before the body
// is read: an immediate reply (a refusal), or the lane and the handler that
// will answer.
struct Routing {
    std::optional<Reply> reply;
    std::size_t lane = 0;
    Handler handler;
};
using Router = std::function<Routing(const HttpRequest&)>;

// Told about every reply with a status of 400 or more.
using RefusalLog = std::function<void(const std::string& method, const std::string& path, const Reply&)>;

struct ServerSettings {
    ServerLimits limits;
    std::vector<LaneSettings> lanes;
    Router router;
    RefusalLog log;
};

class HttpServer {
public:
    explicit HttpServer(ServerSettings settings);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Listens on 127.0.0.1:port (0: a free port). The port, or -1 with the
    // reason in `error`.
    int listen_on(int port, std::string& error);

    // Serves until stop(); then stops taking connections, answers what is
    // being worked on (within stop_time) and returns.
    void run();

    // From any thread. Requests that are still being worked on see their
    // CancelCheck turn true.
    void stop();

private:
    struct Loop;
    std::unique_ptr<Loop> loop_;
};
