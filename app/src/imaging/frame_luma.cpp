#include "imaging/frame_luma.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

namespace {
struct StudioRange {
    std::array<std::uint8_t, 256> full{};
    StudioRange() {
        for (int v = 0; v < 256; ++v) full[v] = static_cast<std::uint8_t>(std::clamp((v - 16) * 255 / 219, 0, 255));
    }
};

const StudioRange& studio_range() {
    static const StudioRange table;
    return table;
}

// Bytes from one pixel's luma sample to the next one's.
std::size_t luma_step(const CameraFrame& frame) {
    return frame.format == PixelFormat::yuyv ? 2 : 1;
}
}  // namespace

std::optional<std::size_t> luma_line(const CameraFrame& frame) {
    const std::size_t w = static_cast<std::size_t>(std::max(0, frame.width));
    const std::size_t h = static_cast<std::size_t>(std::max(0, frame.height));
    const std::size_t stride = static_cast<std::size_t>(std::max(0, frame.bytes_per_line));
    if (w == 0 || h == 0) return std::nullopt;
    switch (frame.format) {
        case PixelFormat::yuyv: {
            if (w % 2 != 0) return std::nullopt;
            std::size_t line = std::max(stride, w * 2);
            if (frame.bytes.size() < line * (h - 1) + w * 2) return std::nullopt;
            return line;
        }
        case PixelFormat::nv12: {
            std::size_t line = std::max(stride, w);
            if (w % 2 != 0 || h % 2 != 0 || frame.bytes.size() < line * h + line * (h / 2 - 1) + w) return std::nullopt;
            return line;
        }
        case PixelFormat::grey: {
            std::size_t line = std::max(stride, w);
            if (frame.bytes.size() < line * (h - 1) + w) return std::nullopt;
            return line;
        }
        case PixelFormat::mjpeg:
            break;
    }
    return std::nullopt;
}

std::uint8_t full_range_luma(const CameraFrame& frame, std::uint8_t value) {
    return frame.full_range ? value : studio_range().full[value];
}

std::optional<double> luma_level(const CameraFrame& frame) {
    auto line = luma_line(frame);
    if (!line) return std::nullopt;
    const std::size_t w = static_cast<std::size_t>(frame.width), h = static_cast<std::size_t>(frame.height);
    const std::size_t step = luma_step(frame);
    const auto* in = reinterpret_cast<const std::uint8_t*>(frame.bytes.data());
    double sum = 0;
    std::size_t count = 0;
    for (std::size_t row = 0; row < h; row += 4) {
        for (std::size_t x = 0; x < w; x += 2) {
            sum += full_range_luma(frame, in[row * *line + x * step]);
            ++count;
        }
    }
    return sum / static_cast<double>(count);
}

std::optional<double> luma_sharpness(const CameraFrame& frame) {
    auto line = luma_line(frame);
    if (!line) return std::nullopt;
    // Averaged in blocks down to about 640 across, as a decoder's scaling
    // would: sharpness is then comparable between sizes of one camera.
    const int block = std::max(1, frame.width / 640);
    const int w = frame.width / block, h = frame.height / block;
    if (w < 3 || h < 3) return 0.0;
    const std::size_t step = luma_step(frame);
    const auto* in = reinterpret_cast<const std::uint8_t*>(frame.bytes.data());
    std::vector<float> grey(static_cast<std::size_t>(w) * h);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            int sum = 0;
            for (int dy = 0; dy < block; ++dy) {
                const std::uint8_t* row = in + static_cast<std::size_t>(y * block + dy) * *line;
                for (int dx = 0; dx < block; ++dx) {
                    sum += full_range_luma(frame, row[static_cast<std::size_t>(x * block + dx) * step]);
                }
            }
            grey[static_cast<std::size_t>(y) * w + x] = static_cast<float>(sum) / static_cast<float>(block * block);
        }
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
