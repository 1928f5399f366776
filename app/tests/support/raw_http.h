#pragma once
// Requests written byte for byte, for what the client never sends: foreign
// Host headers, Origin headers, broken bodies and request lines.
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
// is closed right after the request, as a client that gives up would.
RawReply raw_exchange(int port, const std::string& request, bool hang_up = false);

// The pieces of raw_exchange, for tests that send and read at once: a
// connection to 127.0.0.1:port (throws when refused), sending (false once
// the app has closed), and reading the reply until the app closes.
int connect_loopback(int port);
bool send_bytes(int sock, const std::string& bytes);
RawReply read_reply(int sock, std::chrono::milliseconds limit);

// A request as the client writes it: Host 127.0.0.1:port, Connection: close,
// Content-Length always, Content-Type only with a body; `extra_headers` lines
// (each ending in \r\n) go before the empty line.
std::string client_style_request(const std::string& method, const std::string& path, int port,
                                 const std::string& body = "", const std::string& extra_headers = "",
                                 const std::string& host = "");
