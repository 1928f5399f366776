#pragma once
// Resizing a picture to exactly the asked size (the aspect ratio is not kept:
// the caller has already chosen the size it wants).
#include "imaging/frame_size.h"
#include "imaging/image.h"
#include "imaging/pixels.h"

Image scale_image(const Image& source, int width, int height);
// The same, straight from a screen's pixels.
Image scale_pixels(const PixelView& source, int width, int height);

// The part of `source` that `region` covers; `region` must lie inside it.
Image crop_image(const Image& source, const FrameRegion& region);
