#pragma once
// Requests written byte for byte, for what the client never sends: foreign
// Host headers, Origin headers, broken bodies and request lines. Over the
// app's own socket layer, so that the same helpers serve on Linux and under
// wine.
#include "platform/app_socket.h"

#include <chrono>
#include <string>

struct RawReply {
    int status = 0;
    std::string head;  // status line and header lines
    std::string body;
    bool closed_by_app = false;  // the app ended the connection (rather than a timeout)
    std::chrono::milliseconds took{0};
};

// Sends `request` on a fresh connection to 127.0.0.1:port and reads until the
// app closes the connection (at most 10 s). With `hang_up`, the sending side
// is shut down right after the request, as `nc -N` and many scripts do.
RawReply raw_exchange(int port, const std::string& request, bool hang_up = false);

// The pieces of raw_exchange, for tests that send and read at once: a
// connection to 127.0.0.1:port (throws when refused), sending (false once
// the app has closed), and reading the reply until the app closes.
SocketHandle connect_loopback(int port);
bool send_bytes(SocketHandle sock, const std::string& bytes);
RawReply read_reply(SocketHandle sock, std::chrono::milliseconds limit);

// Shuts down the sending side (the app reads the end of the stream).
void hang_up_sending(SocketHandle sock);
// Closes the connection as a client that goes away does.
void close_connection(SocketHandle sock);
// True when the app closes the connection within `limit`; what it sends
// before that is read and dropped.
bool closed_within(SocketHandle sock, std::chrono::milliseconds limit);
// The bytes that arrive within `limit`, up to `most`, without waiting for
// the end.
std::string read_some(SocketHandle sock, std::size_t most, std::chrono::milliseconds limit);

// A request as the client writes it: Host 127.0.0.1:port, Connection: close,
// Content-Length always, Content-Type only with a body; `extra_headers` lines
// (each ending in \r\n) go before the empty line.
std::string client_style_request(const std::string& method, const std::string& path, int port,
                                 const std::string& body = "", const std::string& extra_headers = "",
                                 const std::string& host = "");
