#pragma once
// The HTTP library's server with two changes to how a connection is handled:
// - one request per connection, always answered with "Connection: close"
//   and followed by the server closing its side, since the client reads
//   every reply until the connection ends;
// - the request line is repaired (see request_line.h) before the library
//   parses it, so that names with spaces reach the handlers.
// After replying, whatever the client still sends (a body the app refused to
// read) is drained briefly, so that closing does not reset the connection
// and destroy the reply before the client has read it.
#include <httplib.h>

class LenientServer : public httplib::Server {
private:
    bool process_and_close_socket(socket_t sock) override;
};
