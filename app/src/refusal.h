#pragma once
// A request the app turns down. Thrown anywhere below a handler and turned
// into a reply with this status and a JSON body {"error": message} there.
#include <string>

struct Refusal {
    int status = 400;
    std::string message;
};
