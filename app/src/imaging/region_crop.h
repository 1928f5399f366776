#pragma once
// A part of a picture.
#include "imaging/frame_size.h"
#include "imaging/image.h"

// The part of `image` inside `region`, clipped to the picture; an empty
// picture when nothing of the region lies inside it.
Image crop_to_region(const Image& image, const FrameRegion& region);
