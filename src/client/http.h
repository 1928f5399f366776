#pragma once
// One HTTP/1.1 request and reply over a TCP connection of its own. The reply
// ends when the peer closes the connection. Of its headers only
// Content-Length is acted on: a reply that ends before that many body bytes
// have come is a failure, not a shorter body. The others are kept for the
// caller to read.
//
// An exchange runs in two steps, so that the caller can choose where the
// body goes once it knows the status: `http_request` connects, sends and
// reads the status line and header lines; `read_body` then hands the body to
// a sink as it arrives. `http_exchange` does both and keeps the body in memory.
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "client/result.h"
#include "platform/io_error.h"
#include "platform/socket.h"

inline constexpr std::uint32_t receive_timeout_ms = 300000;

struct HttpReply {
    std::uint16_t status = 0;
    std::string body;
};

// Takes a reply body piece by piece, in order, as it arrives. A sink never
// stops the exchange: one that cannot keep a piece remembers why and drops
// the rest, so that the caller still learns whether the whole reply came.
class BodySink {
public:
    virtual void take(std::string_view bytes) = 0;

protected:
    ~BodySink() = default;
};

// Keeps the body in memory.
struct StringSink final : BodySink {
    std::string bytes;
    void take(std::string_view piece) override { bytes.append(piece); }
};

// One header line of a reply: its name as sent, its value without the white
// space around it.
struct HeaderField {
    std::string name;
    std::string value;
};
using ReplyHeaders = std::vector<HeaderField>;

// The value of the first header named `name`, in any case; absent when there
// is none.
std::optional<std::string> header_value(const ReplyHeaders& headers, std::string_view name);

// Lets another thread end exchanges at once. `stop` shuts down the connection
// of every exchange that was given this stop and is still open, so that a wait
// for the peer ends now and the peer sees the client hang up (as when a client
// process ends); an exchange started after it fails at once. An exchange that
// was stopped is a failure, never a shorter reply.
class ExchangeStop {
public:
    void stop();
    bool stopped() const;

    // For the exchange: its connection, watched from the connect to the close.
    // `watch` is false (and the connection not watched) when already stopped.
    bool watch(SocketHandle socket);
    void forget(SocketHandle socket);

private:
    mutable std::mutex mutex_;
    bool stopped_ = false;
    std::vector<SocketHandle> sockets_;
};

// The failure of an exchange that was stopped.
IoError stopped_exchange();

// The open connection of a reply whose body has not been read yet.
struct ReplyConnection;
struct ReplyConnectionClose {
    void operator()(ReplyConnection* connection) const;
};

// A reply whose status line and header lines have been read. It owns the
// connection, which closes when the value goes away or the body has been read.
struct IncomingReply {
    std::uint16_t status = 0;
    std::optional<std::uint64_t> content_length;  // the first valid Content-Length line
    ReplyHeaders headers;                         // the first 64 header lines
    std::unique_ptr<ReplyConnection, ReplyConnectionClose> connection;
};

// Sends `method` to `url` ("http://" + authority + path) with `body` (empty:
// none) and reads the reply's status line and header lines. Never prints,
// never retries. `timeout_ms` bounds each wait for the peer; `stop`, when
// given, can end the exchange from another thread until its body is read.
Result<IncomingReply, IoError> http_request(std::string_view method, std::string_view url, std::string body,
                                            std::uint32_t timeout_ms = receive_timeout_ms,
                                            ExchangeStop* stop = nullptr);

// Hands every body byte to `sink` until the peer closes the connection, then
// closes it; yields the number of body bytes. Fewer bytes than the
// Content-Length announced fail ("transfer closed with N bytes remaining");
// more are read as they come. A failure keeps no partial reply: what the
// sink took before it must be thrown away.
Result<std::uint64_t, IoError> read_body(IncomingReply& reply, BodySink& sink);

// Both steps, the body in memory.
Result<HttpReply, IoError> http_exchange(std::string_view method, std::string_view url, std::string body,
                                         std::uint32_t timeout_ms = receive_timeout_ms);
