#pragma once
// The brightness and sharpness of uncompressed camera frames (YUYV, NV12,
// greyscale), read straight from their luma plane: no decoding, no library.
#include "imaging/camera_frame.h"

#include <cstddef>
#include <optional>

// The length of a line of the luma plane (YUYV: of a packed line) when the
// frame holds a whole picture of its size in its format; nullopt when it
// does not (a frame cut short, Motion-JPEG).
std::optional<std::size_t> luma_line(const CameraFrame& frame);

// Studio-range luma (16..235) stretched to full range; full range as it is.
std::uint8_t full_range_luma(const CameraFrame& frame, std::uint8_t value);

// The mean brightness 0..255 from every fourth line, every second pixel.
std::optional<double> luma_level(const CameraFrame& frame);

// The variance of the Laplacian of the luma, averaged down to about 640
// pixels across.
std::optional<double> luma_sharpness(const CameraFrame& frame);
