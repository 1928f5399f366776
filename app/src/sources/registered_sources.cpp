#include "sources/registered_sources.h"

#include "fault.h"

namespace {
Fault unreadable(const SourcesStore& store, const SourcesUnreadable& e) {
    // The file is never written over while it cannot be read: it may be the
    // user's only copy of the list.
    return Fault{FaultKind::failed,
                 "cannot read the sources file " + store.file.string() + ": " + e.what() + "; fix or remove it"};
}
}  // namespace

std::vector<NetSource> load_sources_or_refuse(const SourcesStore& store) {
    try {
        return load_sources(store.file);
    } catch (const SourcesUnreadable& e) {
        throw unreadable(store, e);
    } catch (const SourcesFileError& e) {
        throw Fault{FaultKind::failed, e.what()};
    }
}

void update_sources_or_refuse(SourcesStore& store, const std::function<bool(std::vector<NetSource>&)>& change) {
    std::lock_guard lock(store.mutex);
    try {
        update_sources(store.file, change);
    } catch (const SourcesUnreadable& e) {
        throw unreadable(store, e);
    } catch (const SourcesFileError& e) {
        throw Fault{FaultKind::failed, e.what()};
    }
}
