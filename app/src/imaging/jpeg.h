#pragma once
// JPEG through libjpeg-turbo. Pictures from network cameras are judged by
// their header before any decoding: a file of a megabyte can declare a
// picture that takes gigabytes to hold.
#include "imaging/frame_size.h"
#include "imaging/image.h"
#include "imaging/pixels.h"

#include <optional>
#include <string>
#include <string_view>

// 40 megapixels caps the memory a picture can take (120 MB as RGB).
inline constexpr int max_decoded_side = 8192;
inline constexpr long long max_decoded_pixels = 40'000'000;

std::string encode_jpeg(const Image& image, int quality = 90);
// Straight from a screen's pixels, without a copy when libjpeg-turbo reads
// their layout.
std::string encode_jpeg(const PixelView& view, int quality = 90);

// The picture's size as its header declares it; nullopt when the bytes are
// not a JPEG that libjpeg-turbo can read.
std::optional<FrameSize> jpeg_size(std::string_view bytes);

// At most max_decoded_side on each side and max_decoded_pixels in all.
bool decodable_size(FrameSize size);

// The size a picture of `native` size is decoded at when `at_least` is
// wanted: libjpeg-turbo's smallest scaling factor (down to 1/8) that still
// gives at least that on both sides; `native` when nothing smaller is wanted.
FrameSize decode_size(FrameSize native, std::optional<FrameSize> at_least);

// Decodes at decode_size(jpeg_size(bytes), at_least). Nullopt when the bytes
// are not a readable JPEG or declare a size decodable_size refuses.
std::optional<Image> decode_jpeg(std::string_view bytes, std::optional<FrameSize> at_least = std::nullopt);

// Decodes at 1/`shrink` of the declared size (2, 4 or 8), for much less work,
// within the same limits.
std::optional<Image> decode_jpeg_shrunk(std::string_view bytes, int shrink);

// The JPEG start-of-image marker, the cheap first test of fetched bytes.
bool starts_like_jpeg(std::string_view bytes);
