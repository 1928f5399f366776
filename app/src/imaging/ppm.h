#pragma once
// Portable pixmaps (binary "P6", 8 bits a channel), the simplest picture
// ffmpeg can hand over through a pipe or a file.
#include "imaging/image.h"

#include <cstddef>
#include <optional>
#include <string_view>

// The picture that starts at `at` in `bytes`; `at` moves past it. Nothing
// when no whole picture starts there (the end, or anything else).
std::optional<Image> read_ppm(std::string_view bytes, std::size_t& at);
