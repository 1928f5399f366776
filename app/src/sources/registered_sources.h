#pragma once
// The sources file as requests see it: a file that cannot be read or written
// becomes a failed Fault that names the file.
#include "sources/sources_store.h"

std::vector<NetSource> load_sources_or_refuse(const SourcesStore& store);

// update_sources under store.mutex. `change` may throw a Fault, which
// leaves the file as it was.
void update_sources_or_refuse(SourcesStore& store, const std::function<bool(std::vector<NetSource>&)>& change);
