#include "imaging/scale.h"

#include <algorithm>
#include <cmath>
#include <vector>

// Shrinking averages every source pixel under an output pixel, so that fine
// detail (text on a screen) turns grey instead of aliasing; enlarging
// interpolates between the four nearest pixels.
namespace {
// Where a picture's pixels are: a row's first byte, the bytes from one pixel
// to the next, and where red, green and blue sit in a pixel.
struct Pixels {
    const std::uint8_t* data;
    std::ptrdiff_t stride;
    bool bottom_up;
    int height;
    int step, red, green, blue;

    const std::uint8_t* row(int y) const {
        return data + static_cast<std::ptrdiff_t>(bottom_up ? height - 1 - y : y) * stride;
    }
};

Pixels pixels_of(const Image& image) {
    return {image.rgb.data(), static_cast<std::ptrdiff_t>(image.width) * 3, false, image.height, 3, 0, 1, 2};
}

Pixels pixels_of(const PixelView& view) {
    return {view.data, view.stride,     view.bottom_up,    view.height,
            4,         view.layout.red, view.layout.green, view.layout.blue};
}

// The source pixels under each output pixel along one axis, and how much of
// each lies under it: the window [i * scale, i * scale + scale), at least
// one pixel wide (where this axis is enlarged).
struct Taps {
    std::vector<int> first;      // per output pixel: its first source pixel
    std::vector<int> count;      // and how many
    std::vector<float> weights;  // count[i] weights per output pixel, in a row, summing to 1
    std::vector<int> offset;     // where output pixel i's weights start
};

Taps area_taps(int source, int out) {
    Taps t;
    double scale = static_cast<double>(source) / out;
    for (int i = 0; i < out; ++i) {
        double a = i * scale;
        double b = std::min(std::max(a + scale, a + 1.0), static_cast<double>(source));
        int k0 = static_cast<int>(std::floor(a)), k1 = std::min(source, static_cast<int>(std::ceil(b)));
        t.first.push_back(k0);
        t.offset.push_back(static_cast<int>(t.weights.size()));
        double total = 0;
        std::size_t start = t.weights.size();
        for (int k = k0; k < k1; ++k) {
            double w = std::min<double>(k + 1, b) - std::max<double>(k, a);
            if (w < 0) w = 0;
            t.weights.push_back(static_cast<float>(w));
            total += w;
        }
        for (std::size_t j = start; j < t.weights.size(); ++j) {
            t.weights[j] = total > 0 ? static_cast<float>(t.weights[j] / total) : 0.0f;
        }
        t.count.push_back(k1 - k0);
    }
    return t;
}

// The area average, one axis after the other: each source row is averaged
// across once, and the output rows are sums of those.
Image shrink(const Pixels& src, int src_width, int src_height, int width, int height) {
    Taps across = area_taps(src_width, width), down = area_taps(src_height, height);
    Image out = blank_image(width, height);
    std::size_t row_values = static_cast<std::size_t>(width) * 3;
    // The averaged rows of the source rows [kept_first, kept_first + size).
    std::vector<std::vector<float>> kept;
    int kept_first = 0;
    auto across_row = [&](int y, std::vector<float>& into) {
        into.assign(row_values, 0.0f);
        const std::uint8_t* row = src.row(y);
        for (int x = 0; x < width; ++x) {
            const float* w = &across.weights[static_cast<std::size_t>(across.offset[x])];
            const std::uint8_t* p = row + static_cast<std::ptrdiff_t>(across.first[x]) * src.step;
            float r = 0, g = 0, b = 0;
            for (int k = 0; k < across.count[x]; ++k, p += src.step) {
                r += w[k] * p[src.red];
                g += w[k] * p[src.green];
                b += w[k] * p[src.blue];
            }
            into[static_cast<std::size_t>(x) * 3 + 0] = r;
            into[static_cast<std::size_t>(x) * 3 + 1] = g;
            into[static_cast<std::size_t>(x) * 3 + 2] = b;
        }
    };
    std::vector<float> sum(row_values);
    for (int y = 0; y < height; ++y) {
        int k0 = down.first[y], k1 = k0 + down.count[y];
        // Windows only move down: rows above this one's are done with.
        while (!kept.empty() && kept_first < k0) {
            kept.erase(kept.begin());
            ++kept_first;
        }
        if (kept.empty()) kept_first = k0;
        while (kept_first + static_cast<int>(kept.size()) < k1) {
            kept.emplace_back();
            across_row(kept_first + static_cast<int>(kept.size()) - 1, kept.back());
        }
        std::fill(sum.begin(), sum.end(), 0.0f);
        const float* w = &down.weights[static_cast<std::size_t>(down.offset[y])];
        for (int k = 0; k < down.count[y]; ++k) {
            const std::vector<float>& row = kept[static_cast<std::size_t>(k0 + k - kept_first)];
            for (std::size_t i = 0; i < row_values; ++i) sum[i] += w[k] * row[i];
        }
        std::uint8_t* o = &out.rgb[static_cast<std::size_t>(y) * row_values];
        for (std::size_t i = 0; i < row_values; ++i) {
            o[i] = static_cast<std::uint8_t>(std::clamp(std::lround(sum[i]), 0L, 255L));
        }
    }
    return out;
}

void bilinear_sample(const Image& src, double fx, double fy, std::uint8_t* out) {
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

Image enlarge(const Image& source, int width, int height) {
    Image out = blank_image(width, height);
    double sx = static_cast<double>(source.width) / width;
    double sy = static_cast<double>(source.height) / height;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            bilinear_sample(source, (x + 0.5) * sx - 0.5, (y + 0.5) * sy - 0.5,
                            &out.rgb[(static_cast<std::size_t>(y) * width + x) * 3]);
        }
    }
    return out;
}
}  // namespace

Image scale_image(const Image& source, int width, int height) {
    if (source.width == width && source.height == height) return source;
    if (source.width <= 0 || source.height <= 0) return blank_image(width, height);
    if (source.width > width || source.height > height) {
        return shrink(pixels_of(source), source.width, source.height, width, height);
    }
    return enlarge(source, width, height);
}

Image scale_pixels(const PixelView& source, int width, int height) {
    if (!source.data || source.width <= 0 || source.height <= 0) return blank_image(width, height);
    if (source.width > width || source.height > height) {
        return shrink(pixels_of(source), source.width, source.height, width, height);
    }
    return scale_image(image_of(source), width, height);
}

Image crop_image(const Image& source, const FrameRegion& region) {
    Image out = blank_image(region.width, region.height);
    std::size_t row = static_cast<std::size_t>(region.width) * 3;
    for (int y = 0; y < region.height; ++y) {
        const std::uint8_t* from = &source.rgb[(static_cast<std::size_t>(region.y + y) * source.width + region.x) * 3];
        std::copy(from, from + row, &out.rgb[static_cast<std::size_t>(y) * row]);
    }
    return out;
}
