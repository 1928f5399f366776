#pragma once
// JPEG through libjpeg-turbo.
#include "imaging/image.h"

#include <optional>
#include <string>
#include <string_view>

std::string encode_jpeg(const Image& image, int quality = 90);

// Nullopt when the bytes are not a JPEG that libjpeg-turbo can read.
// shrink 2, 4 or 8 decodes at that fraction of the size, for much less work.
std::optional<Image> decode_jpeg(std::string_view bytes, int shrink = 1);

// The JPEG start-of-image marker, the cheap first test of fetched bytes.
bool starts_like_jpeg(std::string_view bytes);
