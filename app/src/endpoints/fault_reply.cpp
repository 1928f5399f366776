#include "endpoints/fault_reply.h"

int http_status(FaultKind kind) {
    switch (kind) {
        case FaultKind::bad_argument:
            return 400;
        case FaultKind::denied:
            return 403;
        case FaultKind::not_found:
            return 404;
        case FaultKind::busy:
            return 409;
        case FaultKind::failed:
            return 500;
        case FaultKind::unsupported:
            return 501;
        case FaultKind::bad_source:
            return 502;
        // A camera that went away, a screen that cannot be had, a resource
        // that ran out: the client may try again later.
        case FaultKind::gone:
        case FaultKind::unavailable:
        case FaultKind::exhausted:
            return 503;
        case FaultKind::timed_out:
            return 504;
    }
    return 500;
}

Reply fault_reply(const Fault& fault) {
    return error_reply(http_status(fault.kind), fault.message);
}
