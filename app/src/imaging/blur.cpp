#include "imaging/blur.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace {
// One line of samples, `count` long, `stride` apart, blurred into `out`.
void convolve_line(const float* in, float* out, int count, int stride, const std::vector<float>& kernel) {
    int radius = static_cast<int>(kernel.size() / 2);
    for (int i = 0; i < count; ++i) {
        float sum = 0;
        for (int k = -radius; k <= radius; ++k) {
            int j = std::clamp(i + k, 0, count - 1);
            sum += kernel[static_cast<std::size_t>(k + radius)] * in[static_cast<std::ptrdiff_t>(j) * stride];
        }
        out[static_cast<std::ptrdiff_t>(i) * stride] = sum;
    }
}

void box_line(const float* in, float* out, int count, int stride, int radius) {
    auto at = [&](int j) { return in[static_cast<std::ptrdiff_t>(std::clamp(j, 0, count - 1)) * stride]; };
    double sum = 0;
    for (int k = -radius; k <= radius; ++k) sum += at(k);
    double scale = 1.0 / (2 * radius + 1);
    for (int i = 0; i < count; ++i) {
        out[static_cast<std::ptrdiff_t>(i) * stride] = static_cast<float>(sum * scale);
        sum += at(i + radius + 1) - at(i - radius);
    }
}

std::vector<float> gaussian_kernel(double sigma) {
    int radius = static_cast<int>(std::ceil(3 * sigma));
    std::vector<float> kernel(static_cast<std::size_t>(2 * radius + 1));
    double total = 0;
    for (int k = -radius; k <= radius; ++k) {
        double w = std::exp(-(k * k) / (2 * sigma * sigma));
        kernel[static_cast<std::size_t>(k + radius)] = static_cast<float>(w);
        total += w;
    }
    for (float& w : kernel) w = static_cast<float>(w / total);
    return kernel;
}

// Radii of three box passes whose combined spread matches sigma.
std::vector<int> box_radii(double sigma) {
    constexpr int passes = 3;
    double ideal = std::sqrt(12 * sigma * sigma / passes + 1);
    int lower = static_cast<int>(std::floor(ideal));
    if (lower % 2 == 0) --lower;
    int upper = lower + 2;
    double m = (12 * sigma * sigma - passes * lower * lower - 4.0 * passes * lower - 3.0 * passes) / (-4.0 * lower - 4);
    int small = static_cast<int>(std::lround(m));
    std::vector<int> radii;
    for (int i = 0; i < passes; ++i) radii.push_back(((i < small ? lower : upper) - 1) / 2);
    return radii;
}

// Applies `line` along every row, then along every column, of one plane.
template <typename LineFn>
void separable(std::vector<float>& plane, int width, int height, LineFn line) {
    std::vector<float> tmp(plane.size());
    for (int y = 0; y < height; ++y) {
        std::size_t offset = static_cast<std::size_t>(y) * width;
        line(&plane[offset], &tmp[offset], width, 1);
    }
    for (int x = 0; x < width; ++x)
        line(&tmp[static_cast<std::size_t>(x)], &plane[static_cast<std::size_t>(x)], height, width);
}
}  // namespace

void gaussian_blur(Image& image, double sigma) {
    if (sigma < 0.2 || image.width <= 0 || image.height <= 0) return;
    const std::size_t pixels = static_cast<std::size_t>(image.width) * image.height;
    for (int c = 0; c < 3; ++c) {
        std::vector<float> plane(pixels);
        for (std::size_t i = 0; i < pixels; ++i) plane[i] = image.rgb[i * 3 + c];
        if (sigma <= 3.0) {
            auto kernel = gaussian_kernel(sigma);
            separable(plane, image.width, image.height, [&](const float* in, float* out, int count, int stride) {
                convolve_line(in, out, count, stride, kernel);
            });
        } else {
            for (int radius : box_radii(sigma)) {
                separable(plane, image.width, image.height, [&](const float* in, float* out, int count, int stride) {
                    box_line(in, out, count, stride, radius);
                });
            }
        }
        for (std::size_t i = 0; i < pixels; ++i) {
            image.rgb[i * 3 + c] = static_cast<std::uint8_t>(std::clamp(std::lround(plane[i]), 0L, 255L));
        }
    }
}
