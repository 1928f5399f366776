#pragma once
// Which of a camera's modes to stream in for a wanted frame size.
#include "cameras/capture_device.h"
#include "imaging/frame_size.h"

#include <vector>

// A mode below this many frames a second is slow: its warm-up takes
// seconds, and each photo waits up to a fifth of one for its frame.
inline constexpr double full_rate_fps = 15;

// The mode for a frame of `wanted` size: the smallest size that covers it
// (so the picture is only ever shrunk), at full rate when one does; else the
// one that comes closest to covering it. Among equals, Motion-JPEG, else
// YUYV, else NV12, else greyscale. `usable` must not be empty.
CaptureMode choose_mode(const std::vector<CaptureMode>& usable, FrameSize wanted);

// The modes worth trying when the bus cannot carry `failed`: compressed ones
// when it was not, and smaller ones.
std::vector<CaptureMode> lighter_modes(const std::vector<CaptureMode>& usable, const CaptureMode& failed);

// The modes of the same shape as `size` (within 1 %): the ones whose
// picture covers what a frame of that size shows.
std::vector<CaptureMode> modes_shaped_like(const std::vector<CaptureMode>& usable, FrameSize size);

bool same_mode(const CaptureMode& a, const CaptureMode& b);
