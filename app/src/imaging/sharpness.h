#pragma once
// How sharp a picture is: the variance of the Laplacian of its grey levels.
// Edges in focus give large second derivatives; blur flattens them.
#include "imaging/image.h"

double laplacian_variance(const Image& image);
