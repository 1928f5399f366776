#pragma once
// The app's sockets: the server's listening socket and its connections, and
// the network cameras' GET client. Every socket call lives behind this
// header, in socket_posix.cpp or socket_win32.cpp. Every socket is
// non-blocking and is not handed to child processes.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

using SocketHandle = std::intptr_t;
inline constexpr SocketHandle no_socket = -1;

// What a call on a socket came to, in the cases its callers tell apart.
enum class SocketStatus {
    done,                // it worked; `bytes` were moved
    would_block,         // nothing can be done now: wait until the socket is ready
    ended,               // receive: the peer has sent everything it will send
    in_progress,         // connect: under way
    reset,               // the peer is gone: reset, aborted, or no longer connected
    out_of_descriptors,  // the process or the system has no descriptor or buffer to spare
    failed,              // anything else; `code` says what
};

struct SocketResult {
    SocketStatus status = SocketStatus::failed;
    std::size_t bytes = 0;
    int code = 0;                     // the system's error code, when it failed
    SocketHandle socket = no_socket;  // the new socket, from accept and connect
};

// The system's words for an error code, the same words on every platform for
// the usual ones ("Connection refused", "Too many open files").
std::string socket_error_text(int code);

// Starts the socket layer (Winsock 2.2 on Windows) once for the process;
// later calls only give the first call's outcome. The reason when it failed.
std::optional<std::string> start_sockets();

// --- serving

struct Listening {
    SocketHandle socket = no_socket;
    int port = 0;       // the port bound, when it worked
    std::string error;  // why not, when it did not
};

// Listens on 127.0.0.1:port (0: a free port) with a backlog as long as the
// system allows. Exclusively: a second app cannot listen on the same port
// (not SO_REUSEPORT; SO_EXCLUSIVEADDRUSE on Windows).
Listening listen_on_loopback(int port);

// A waiting connection: done with `socket`, would_block when there is none,
// out_of_descriptors, or failed (a connection that went before it was taken:
// try the next).
SocketResult accept_connection(SocketHandle listener);

// done with bytes > 0, ended, would_block, reset or failed.
SocketResult receive_some(SocketHandle socket, char* buffer, std::size_t size);

// Sends from `first` and then `second` in one call (a reply's head and
// body): done with the bytes taken, would_block, reset or failed. Never
// raises a signal when the peer is gone.
SocketResult send_some(SocketHandle socket, std::string_view first, std::string_view second = {});

// One byte of urgent data, which a reader that has not asked for urgent data
// inline never sees in the stream. A peer that has closed its socket answers
// any data with a reset, while one that has only shut down its sending side
// takes it; so this tells apart a client that hung up from one that
// half-closed its connection after sending its request.
SocketResult send_urgent_probe(SocketHandle socket);

// Whether the connection has been reset or has failed: what a receive no
// longer tells once it has read the end of the stream.
bool connection_reset(SocketHandle socket);

// No more bytes from this side; the peer reads the end of the stream.
void shut_down_sending(SocketHandle socket);
void close_socket(SocketHandle socket);

// --- fetching

// A numeric IPv4 or IPv6 address with a port.
struct NetAddress {
    bool ipv6 = false;
    std::array<std::uint8_t, 16> bytes{};  // IPv4: the first four, in network order
    int port = 0;
    std::uint32_t scope_id = 0;  // IPv6 only
};

struct Resolved {
    std::vector<NetAddress> addresses;
    std::string error;  // why there are none, when the lookup failed
};

// The host read as a numeric address only, the way the system's resolver
// reads one ("127.1", "2130706433" and "0x7f000001" are IPv4 addresses to
// it): none when it is not one.
Resolved numeric_addresses(const std::string& host, int port);

// The host looked up as a name, for stream sockets. Blocks for as long as
// the system's resolver takes: call it on a thread that may wait.
Resolved look_up_addresses(const std::string& host, int port);

// Starts connecting: in_progress or done with `socket`, out_of_descriptors,
// or failed (no socket).
SocketResult start_connect(const NetAddress& address);

// Waits at most `timeout_ms` for a connection under way: done once it is
// made, would_block while it is still under way, else why it failed (the
// connection refused, the host unreachable...). Does not rely on WSAPoll,
// which missed failed connections on Windows before 10 2004.
SocketResult finish_connect(SocketHandle socket, int timeout_ms);

// Waits at most `timeout_ms` until the socket can be read (or, with
// `for_writing`, written). True when it can, or when it failed (the next
// call says how); false when the time ran out.
bool wait_until_ready(SocketHandle socket, bool for_writing, int timeout_ms);
