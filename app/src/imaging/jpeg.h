#pragma once
// JPEG through libjpeg-turbo.
#include "imaging/image.h"

#include <optional>
#include <string>
#include <string_view>

std::string encode_jpeg(const Image& image, int quality = 90);

// Nullopt when the bytes are not a JPEG that libjpeg-turbo can read.
std::optional<Image> decode_jpeg(std::string_view bytes);

// The JPEG start-of-image marker, the cheap first test of fetched bytes.
bool starts_like_jpeg(std::string_view bytes);
