#pragma once
// The defocus of the simulated lens, modelled as a Gaussian blur.
#include "imaging/image.h"

// Blurs in place with standard deviation sigma, in pixels. Below 0.2 the
// picture is left alone; up to 3 the exact kernel is used (so that the last
// steps towards focus still change the picture a little); above that three
// box passes, whose cost does not grow with sigma.
void gaussian_blur(Image& image, double sigma);
