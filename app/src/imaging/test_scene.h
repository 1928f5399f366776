#pragma once
// The picture in front of the simulated camera: a test chart with hard edges
// (a star, a checkerboard, rings, a frequency wedge), colour bars and text,
// laid out on a 16:9 card. It is drawn from its geometry at whatever size is
// asked, so it stays crisp at every resolution and zoom.
#include "imaging/image.h"

#include <string_view>

struct SceneText {
    std::string_view clock;  // e.g. "14:03:07.250", changes with every frame
    std::string_view frame;  // e.g. "FRAME 000042"
};

// zoom 1.0 shows the whole card, filling the frame (cropping the card when the
// frame's aspect ratio is not 16:9); 2.0 shows the middle half, and so on.
Image render_test_scene(int width, int height, double zoom, const SceneText& text);
