#pragma once
// The one place where what went wrong becomes an HTTP status.
#include "fault.h"
#include "http/reply.h"

int http_status(FaultKind kind);

// {"error": message} with the status of the fault's kind.
Reply fault_reply(const Fault& fault);
