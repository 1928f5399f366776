#include "sources/registered_sources.h"

#include "refusal.h"

std::vector<NetSource> load_sources_or_refuse(const SourcesStore& store) {
    try {
        return load_sources(store.file);
    } catch (const SourcesFileError& e) {
        // The file is never written over while it cannot be read: it may be the
        // user's only copy of the list.
        throw Refusal{500,
                      "cannot read the sources file " + store.file.string() + ": " + e.what() + "; fix or remove it"};
    }
}

void save_sources_or_refuse(const SourcesStore& store, const std::vector<NetSource>& sources) {
    try {
        save_sources(store.file, sources);
    } catch (const SourcesFileError& e) {
        throw Refusal{500, e.what()};
    }
}
