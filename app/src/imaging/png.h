#pragma once
// PNG through libpng: the form desktop portals hand screenshots over in.
#include "imaging/image.h"

#include <optional>
#include <string_view>

// Nullopt when the bytes are not a PNG that libpng can read, or the picture
// is larger than 16384 pixels on a side.
std::optional<Image> decode_png(std::string_view bytes);
