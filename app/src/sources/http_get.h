#pragma once
// A small HTTP/1.1 GET client for network cameras: non-blocking sockets, one
// deadline for the whole fetch (name lookup, connection, request and reply),
// a shorter one for the connection, a byte limit on the reply, and a cancel
// check asked every tenth of a second, so that a camera that trickles or a
// client that hangs up never keeps the app busy past those limits.
#include "cancellation.h"
#include "platform/app_socket.h"
#include "sources/http_url.h"

#include <chrono>
#include <functional>
#include <string>

struct GetLimits {
    std::chrono::milliseconds connect_time{3000};
    std::chrono::milliseconds total_time{10000};
    std::size_t max_body = 32 * 1024 * 1024;
};

struct GetResult {
    enum class Outcome {
        reply,        // status, content_type and body are set
        unreachable,  // no connection; `detail` says why
        refused,      // may_connect turned every address down
        timed_out,    // the whole fetch took longer than total_time
        too_large,    // the body passed max_body
        broken,       // not an HTTP reply, or cut short; `detail` says how
        cancelled,    // the cancel check said stop
    } outcome = Outcome::broken;
    std::string detail;
    int status = 0;
    std::string content_type;
    std::string body;
};

// Asked about every address before it is connected to.
using AddressCheck = std::function<bool(const NetAddress& address)>;

GetResult http_get(const HttpUrl& url, const GetLimits& limits, const CancelCheck& cancelled,
                   const AddressCheck& may_connect);

// "10 seconds", "1.5 seconds": a limit as the messages show it.
std::string seconds_text(std::chrono::milliseconds limit);
