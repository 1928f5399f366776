#pragma once
// The sources file as requests see it: a file that cannot be read or written
// becomes a Refusal (500) that names the file. The caller holds store.mutex.
#include "sources/sources_store.h"

std::vector<NetSource> load_sources_or_refuse(const SourcesStore& store);
void save_sources_or_refuse(const SourcesStore& store, const std::vector<NetSource>& sources);
