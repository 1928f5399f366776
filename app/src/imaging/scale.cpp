#include "imaging/scale.h"

#include <algorithm>
#include <cmath>

// Shrinking averages every source pixel under an output pixel, so that fine
// detail (text on a screen) turns grey instead of aliasing; enlarging
// interpolates between the four nearest pixels.
static void area_sample(const Image& src, double x0, double x1, double y0, double y1, std::uint8_t* out) {
    int ix0 = static_cast<int>(std::floor(x0));
    int ix1 = std::min(src.width, static_cast<int>(std::ceil(x1)));
    int iy0 = static_cast<int>(std::floor(y0));
    int iy1 = std::min(src.height, static_cast<int>(std::ceil(y1)));
    double sum[3] = {0, 0, 0};
    double total = 0;
    for (int y = iy0; y < iy1; ++y) {
        double wy = std::min<double>(y + 1, y1) - std::max<double>(y, y0);
        if (wy <= 0) continue;
        const std::uint8_t* row = &src.rgb[(static_cast<std::size_t>(y) * src.width) * 3];
        for (int x = ix0; x < ix1; ++x) {
            double wx = std::min<double>(x + 1, x1) - std::max<double>(x, x0);
            if (wx <= 0) continue;
            double w = wx * wy;
            for (int c = 0; c < 3; ++c) sum[c] += w * row[x * 3 + c];
            total += w;
        }
    }
    for (int c = 0; c < 3; ++c) {
        out[c] = static_cast<std::uint8_t>(std::clamp(std::lround(total > 0 ? sum[c] / total : 0.0), 0L, 255L));
    }
}

static void bilinear_sample(const Image& src, double fx, double fy, std::uint8_t* out) {
    fx = std::clamp(fx, 0.0, static_cast<double>(src.width - 1));
    fy = std::clamp(fy, 0.0, static_cast<double>(src.height - 1));
    int x0 = static_cast<int>(fx), y0 = static_cast<int>(fy);
    int x1 = std::min(x0 + 1, src.width - 1), y1 = std::min(y0 + 1, src.height - 1);
    double ax = fx - x0, ay = fy - y0;
    auto at = [&](int x, int y, int c) {
        return static_cast<double>(src.rgb[(static_cast<std::size_t>(y) * src.width + x) * 3 + c]);
    };
    for (int c = 0; c < 3; ++c) {
        double top = at(x0, y0, c) * (1 - ax) + at(x1, y0, c) * ax;
        double bottom = at(x0, y1, c) * (1 - ax) + at(x1, y1, c) * ax;
        out[c] = static_cast<std::uint8_t>(std::clamp(std::lround(top * (1 - ay) + bottom * ay), 0L, 255L));
    }
}

Image scale_image(const Image& source, int width, int height) {
    if (source.width == width && source.height == height) return source;
    Image out = blank_image(width, height);
    if (source.width <= 0 || source.height <= 0) return out;
    double sx = static_cast<double>(source.width) / width;
    double sy = static_cast<double>(source.height) / height;
    bool shrink = sx > 1.0 || sy > 1.0;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            std::uint8_t* px = &out.rgb[(static_cast<std::size_t>(y) * width + x) * 3];
            if (shrink) {
                double x0 = x * sx, y0 = y * sy;
                double x1 = std::max(x0 + sx, x0 + 1.0), y1 = std::max(y0 + sy, y0 + 1.0);
                area_sample(source, x0, std::min(x1, static_cast<double>(source.width)), y0,
                            std::min(y1, static_cast<double>(source.height)), px);
            } else {
                bilinear_sample(source, (x + 0.5) * sx - 0.5, (y + 0.5) * sy - 0.5, px);
            }
        }
    }
    return out;
}

Image crop_image(const Image& source, const FrameRegion& region) {
    Image out = blank_image(region.width, region.height);
    std::size_t row = static_cast<std::size_t>(region.width) * 3;
    for (int y = 0; y < region.height; ++y) {
        const std::uint8_t* from =
            &source.rgb[(static_cast<std::size_t>(region.y + y) * source.width + region.x) * 3];
        std::copy(from, from + row, &out.rgb[static_cast<std::size_t>(y) * row]);
    }
    return out;
}
