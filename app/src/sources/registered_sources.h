#pragma once
// The sources file as requests see it: a file that cannot be read or written
// becomes a failed Fault that names the file; a lock held past the deadline
// a busy one, and a lack of descriptors or memory an exhausted one.
#include "sources/sources_store.h"

std::vector<NetSource> load_sources_or_refuse(const SourcesStore& store);

// update_sources with the lock waited for until store.lock_wait after
// `arrived` (when the request arrived), and under no other lock. `change`
// may throw a Fault, which leaves the file as it was.
void update_sources_or_refuse(const SourcesStore& store, const std::function<bool(std::vector<NetSource>&)>& change,
                              std::chrono::steady_clock::time_point arrived);
