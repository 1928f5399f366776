#include "sources/registered_sources.h"

#include "fault.h"

namespace {
// In a handler of SourcesFileError: the failure as the Fault a request gets.
[[noreturn]] void refuse_current(const SourcesStore& store) {
    try {
        throw;
    } catch (const SourcesExhausted& e) {
        // The file may be fine: nothing to fix in it.
        throw Fault{FaultKind::exhausted,
                    std::string(e.what()) + "; vistrel-app is out of resources, try again shortly"};
    } catch (const SourcesLocked& e) {
        throw Fault{FaultKind::busy,
                    "another program is changing the sources (" + std::string(e.what()) + "); try again shortly"};
    } catch (const SourcesUnreadable& e) {
        // The file is never written over while it cannot be read: it may be
        // the user's only copy of the list.
        throw Fault{FaultKind::failed,
                    "cannot read the sources file " + store.file.string() + ": " + e.what() + "; fix or remove it"};
    } catch (const SourcesFileError& e) {
        throw Fault{FaultKind::failed, e.what()};
    }
}
}  // namespace

std::vector<NetSource> load_sources_or_refuse(const SourcesStore& store) {
    try {
        return load_sources(store.file);
    } catch (const SourcesFileError&) {
        refuse_current(store);
    }
}

void update_sources_or_refuse(const SourcesStore& store, const std::function<bool(std::vector<NetSource>&)>& change,
                              std::chrono::steady_clock::time_point arrived) {
    try {
        update_sources(store.file, change, arrived + store.lock_wait);
    } catch (const SourcesFileError&) {
        refuse_current(store);
    }
}
