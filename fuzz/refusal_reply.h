#pragma once
// A refusal of vistrel-app goes out as the JSON {"error": message} with its
// status, whatever bytes the message holds (it may quote a query as sent).
#include "check.h"
#include "http/reply.h"
#include "refusal.h"

inline void check_refusal_reply(const Refusal& refusal) {
    FUZZ_CHECK(refusal.status >= 400 && refusal.status <= 599, "a refusal with a status that is not an error");
    FUZZ_CHECK(!refusal.message.empty(), "a refusal without a reason");
    Reply reply = error_reply(refusal.status, refusal.message);
    FUZZ_CHECK(reply.status == refusal.status, "the reply lost the refusal's status");
    FUZZ_CHECK(nlohmann::json::accept(reply.body), "the refusal's reply is not JSON");
    FUZZ_CHECK(!error_text(reply).empty(), "the refusal's reply lost its reason");
}
