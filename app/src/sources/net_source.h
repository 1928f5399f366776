#pragma once
// Frames from registered network cameras ("net:<name>").
#include "sources/sources_store.h"

#include <string>

inline constexpr std::size_t max_net_frame_bytes = 32 * 1024 * 1024;

// One JPEG from the source's URL, checked to be one. Refusal (502) when the
// camera cannot be reached, answers with an error status, or sends something
// else.
std::string fetch_source_jpeg(const NetSource& source);
