#pragma once
// A fault met while reading a request goes out as the JSON {"error": message}
// with its kind's status, whatever bytes the message holds (it may quote a
// query as sent).
#include "check.h"
#include "endpoints/fault_reply.h"
#include "fault.h"
#include "http/reply.h"

inline void check_refusal_reply(const Fault& fault) {
    FUZZ_CHECK(!fault.message.empty(), "a refusal without a reason");
    Reply reply = fault_reply(fault);
    FUZZ_CHECK(reply.status >= 400 && reply.status <= 599, "a refusal with a status that is not an error");
    FUZZ_CHECK(nlohmann::json::accept(reply.body), "the refusal's reply is not JSON");
    FUZZ_CHECK(!error_text(reply).empty(), "the refusal's reply lost its reason");
}
