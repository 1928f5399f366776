#include "imaging/sharpness.h"

#include <vector>

double laplacian_variance(const Image& image) {
    const int w = image.width, h = image.height;
    if (w < 3 || h < 3) return 0.0;
    std::vector<float> grey(static_cast<std::size_t>(w) * h);
    for (std::size_t i = 0; i < grey.size(); ++i) {
        grey[i] = 0.299f * image.rgb[i * 3] + 0.587f * image.rgb[i * 3 + 1] + 0.114f * image.rgb[i * 3 + 2];
    }
    double sum = 0, sum_sq = 0;
    for (int y = 1; y < h - 1; ++y) {
        for (int x = 1; x < w - 1; ++x) {
            std::size_t i = static_cast<std::size_t>(y) * w + x;
            double lap = 4.0 * grey[i] - grey[i - 1] - grey[i + 1] - grey[i - w] - grey[i + w];
            sum += lap;
            sum_sq += lap * lap;
        }
    }
    double n = static_cast<double>(w - 2) * (h - 2);
    double mean = sum / n;
    return sum_sq / n - mean * mean;
}
