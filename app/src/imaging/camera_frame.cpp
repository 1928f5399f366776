#include "imaging/camera_frame.h"

#include "imaging/jpeg.h"
#include "imaging/mjpeg.h"
#include "imaging/turbojpeg_handle.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

namespace {
// Levels of studio-range YUV (luma 16..235, chroma 16..240 around 128)
// stretched to the full range that JPEG files use.
struct RangeTables {
    std::array<std::uint8_t, 256> luma{}, chroma{};
    RangeTables() {
        for (int v = 0; v < 256; ++v) {
            luma[v] = static_cast<std::uint8_t>(std::clamp((v - 16) * 255 / 219, 0, 255));
            chroma[v] = static_cast<std::uint8_t>(std::clamp(128 + (v - 128) * 255 / 224, 0, 255));
        }
    }
};
const RangeTables& range_tables() {
    static const RangeTables tables;
    return tables;
}

// YUV in three full-range planes, as libjpeg-turbo takes them.
struct Planes {
    std::vector<std::uint8_t> y, u, v;
    int chroma_width = 0, chroma_height = 0;
    int subsampling = TJSAMP_422;
};

// The length of a luma line (YUYV: of a packed line) when the frame holds
// a whole YUV picture of its size; nullopt when it does not.
std::optional<std::size_t> luma_line(const CameraFrame& frame) {
    const std::size_t w = static_cast<std::size_t>(frame.width), h = static_cast<std::size_t>(frame.height);
    if (w == 0 || h == 0 || w % 2 != 0) return std::nullopt;
    if (frame.format == PixelFormat::yuyv) {
        std::size_t line = std::max<std::size_t>(frame.bytes_per_line, w * 2);
        if (frame.bytes.size() < line * (h - 1) + w * 2) return std::nullopt;
        return line;
    }
    if (frame.format == PixelFormat::nv12) {
        std::size_t line = std::max<std::size_t>(frame.bytes_per_line, w);
        if (h % 2 != 0 || frame.bytes.size() < line * h + line * (h / 2 - 1) + w) return std::nullopt;
        return line;
    }
    return std::nullopt;
}

std::optional<Planes> planes_of(const CameraFrame& frame) {
    const std::size_t w = static_cast<std::size_t>(frame.width), h = static_cast<std::size_t>(frame.height);
    const auto* in = reinterpret_cast<const std::uint8_t*>(frame.bytes.data());
    const RangeTables& levels = range_tables();
    auto luma = [&](std::uint8_t v) { return frame.full_range ? v : levels.luma[v]; };
    auto chroma = [&](std::uint8_t v) { return frame.full_range ? v : levels.chroma[v]; };
    Planes planes;
    auto readable = luma_line(frame);
    if (!readable) return std::nullopt;
    const std::size_t line = *readable;
    if (frame.format == PixelFormat::yuyv) {
        planes.subsampling = TJSAMP_422;
        planes.chroma_width = frame.width / 2;
        planes.chroma_height = frame.height;
        planes.y.resize(w * h);
        planes.u.resize(w / 2 * h);
        planes.v.resize(w / 2 * h);
        for (std::size_t row = 0; row < h; ++row) {
            const std::uint8_t* p = in + row * line;
            for (std::size_t x = 0; x < w / 2; ++x, p += 4) {
                planes.y[row * w + 2 * x] = luma(p[0]);
                planes.u[row * (w / 2) + x] = chroma(p[1]);
                planes.y[row * w + 2 * x + 1] = luma(p[2]);
                planes.v[row * (w / 2) + x] = chroma(p[3]);
            }
        }
        return planes;
    }
    if (frame.format == PixelFormat::nv12) {
        planes.subsampling = TJSAMP_420;
        planes.chroma_width = frame.width / 2;
        planes.chroma_height = frame.height / 2;
        planes.y.resize(w * h);
        planes.u.resize(w / 2 * (h / 2));
        planes.v.resize(w / 2 * (h / 2));
        for (std::size_t row = 0; row < h; ++row) {
            for (std::size_t x = 0; x < w; ++x) planes.y[row * w + x] = luma(in[row * line + x]);
        }
        const std::uint8_t* chroma_plane = in + line * h;
        for (std::size_t row = 0; row < h / 2; ++row) {
            for (std::size_t x = 0; x < w / 2; ++x) {
                planes.u[row * (w / 2) + x] = chroma(chroma_plane[row * line + 2 * x]);
                planes.v[row * (w / 2) + x] = chroma(chroma_plane[row * line + 2 * x + 1]);
            }
        }
        return planes;
    }
    return std::nullopt;
}

std::string yuv_jpeg(const CameraFrame& frame, int quality) {
    auto planes = planes_of(frame);
    if (!planes) return {};
    TjHandle tj(tjInitCompress());
    if (!tj.handle) return {};
    const unsigned char* sources[3] = {planes->y.data(), planes->u.data(), planes->v.data()};
    int strides[3] = {frame.width, planes->chroma_width, planes->chroma_width};
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    int rc = tjCompressFromYUVPlanes(tj.handle, sources, frame.width, strides, frame.height, planes->subsampling,
                                     &buffer, &size, quality, TJFLAG_FASTDCT);
    std::unique_ptr<unsigned char, void (*)(unsigned char*)> owned(buffer, tjFree);
    if (rc != 0) return {};
    return std::string(reinterpret_cast<const char*>(buffer), size);
}

}  // namespace

std::string frame_jpeg(const CameraFrame& frame, int quality) {
    if (frame.format != PixelFormat::mjpeg) return yuv_jpeg(frame, quality);
    std::string_view whole = complete_jpeg(frame.bytes);
    if (whole.empty()) return {};
    std::string jpeg = with_huffman_tables(whole);
    // A frame damaged on its way over USB is caught here, not by whoever
    // opens the file.
    if (!decode_jpeg_shrunk(jpeg, 8)) return {};
    return jpeg;
}

std::optional<Image> frame_image(const CameraFrame& frame, int shrink) {
    if (frame.format == PixelFormat::mjpeg) {
        std::string_view whole = complete_jpeg(frame.bytes);
        if (whole.empty()) return std::nullopt;
        return decode_jpeg_shrunk(with_huffman_tables(whole), shrink);
    }
    auto planes = planes_of(frame);
    if (!planes) return std::nullopt;
    TjHandle tj(tjInitDecompress());
    if (!tj.handle) return std::nullopt;
    const unsigned char* sources[3] = {planes->y.data(), planes->u.data(), planes->v.data()};
    int strides[3] = {frame.width, planes->chroma_width, planes->chroma_width};
    Image image = blank_image(frame.width, frame.height);
    if (tjDecodeYUVPlanes(tj.handle, sources, strides, planes->subsampling, image.rgb.data(), frame.width, 0,
                          frame.height, TJPF_RGB, 0) != 0) {
        return std::nullopt;
    }
    return image;
}

std::optional<double> frame_level(const CameraFrame& frame) {
    if (frame.format == PixelFormat::mjpeg) {
        // An eighth of the size costs little more than reading the headers.
        auto small = frame_image(frame, 8);
        if (!small || small->rgb.empty()) return std::nullopt;
        double sum = 0;
        for (std::size_t i = 0; i < small->rgb.size(); i += 3) {
            sum += 0.299 * small->rgb[i] + 0.587 * small->rgb[i + 1] + 0.114 * small->rgb[i + 2];
        }
        return sum / (small->rgb.size() / 3);
    }
    // Every luma sample of every fourth line, every second pixel.
    auto line = luma_line(frame);
    if (!line) return std::nullopt;
    const std::size_t w = static_cast<std::size_t>(frame.width), h = static_cast<std::size_t>(frame.height);
    const std::size_t pixel = frame.format == PixelFormat::yuyv ? 2 : 1;
    const auto* in = reinterpret_cast<const std::uint8_t*>(frame.bytes.data());
    const RangeTables& levels = range_tables();
    double sum = 0;
    std::size_t count = 0;
    for (std::size_t row = 0; row < h; row += 4) {
        for (std::size_t x = 0; x < w; x += 2) {
            std::uint8_t v = in[row * *line + x * pixel];
            sum += frame.full_range ? v : levels.luma[v];
            ++count;
        }
    }
    return sum / count;
}
