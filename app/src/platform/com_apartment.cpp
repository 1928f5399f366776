#include "platform/com_ref.h"

namespace {
// Leaves the apartment when its thread ends, if joining it took.
struct Apartment {
    Apartment() : joined(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) {}
    ~Apartment() {
        if (joined) CoUninitialize();
    }
    Apartment(const Apartment&) = delete;
    Apartment& operator=(const Apartment&) = delete;
    bool joined;
};
}  // namespace

void join_com_apartment() {
    thread_local Apartment apartment;
    (void)apartment;
}
