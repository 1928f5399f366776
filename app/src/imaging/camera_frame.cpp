#include "imaging/camera_frame.h"

#include "imaging/frame_luma.h"
#include "imaging/jpeg.h"
#include "imaging/mjpeg.h"
#include "imaging/region_crop.h"
#include "imaging/scale.h"
#include "imaging/sharpness.h"
#include "imaging/turbojpeg_handle.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <vector>

namespace {
// Chroma of studio-range YUV (16..240 around 128) stretched to the full
// range that JPEG files use.
struct ChromaRange {
    std::array<std::uint8_t, 256> full{};
    ChromaRange() {
        for (int v = 0; v < 256; ++v)
            full[v] = static_cast<std::uint8_t>(std::clamp(128 + (v - 128) * 255 / 224, 0, 255));
    }
};

const ChromaRange& chroma_range() {
    static const ChromaRange table;
    return table;
}

// YUV in full-range planes, as libjpeg-turbo takes them (grey: one plane).
struct Planes {
    std::vector<std::uint8_t> y, u, v;
    int chroma_width = 0, chroma_height = 0;
    int subsampling = TJSAMP_422;
};

std::optional<Planes> planes_of(const CameraFrame& frame) {
    auto readable = luma_line(frame);
    if (!readable) return std::nullopt;
    const std::size_t line = *readable;
    const std::size_t w = static_cast<std::size_t>(frame.width), h = static_cast<std::size_t>(frame.height);
    const auto* in = reinterpret_cast<const std::uint8_t*>(frame.bytes.data());
    auto luma = [&](std::uint8_t v) { return full_range_luma(frame, v); };
    auto chroma = [&](std::uint8_t v) { return frame.full_range ? v : chroma_range().full[v]; };
    Planes planes;
    planes.y.resize(w * h);
    if (frame.format == PixelFormat::grey) {
        planes.subsampling = TJSAMP_GRAY;
        for (std::size_t row = 0; row < h; ++row) {
            for (std::size_t x = 0; x < w; ++x) planes.y[row * w + x] = luma(in[row * line + x]);
        }
        return planes;
    }
    if (frame.format == PixelFormat::yuyv) {
        planes.subsampling = TJSAMP_422;
        planes.chroma_width = frame.width / 2;
        planes.chroma_height = frame.height;
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
    // NV12
    planes.subsampling = TJSAMP_420;
    planes.chroma_width = frame.width / 2;
    planes.chroma_height = frame.height / 2;
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

std::string yuv_jpeg(const CameraFrame& frame, int quality) {
    auto planes = planes_of(frame);
    if (!planes) return {};
    TjHandle tj(tjInitCompress());
    if (!tj.handle) return {};
    const unsigned char* sources[3] = {planes->y.data(), planes->u.empty() ? nullptr : planes->u.data(),
                                       planes->v.empty() ? nullptr : planes->v.data()};
    int strides[3] = {frame.width, planes->chroma_width, planes->chroma_width};
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    int rc = tjCompressFromYUVPlanes(tj.handle, sources, frame.width, strides, frame.height, planes->subsampling,
                                     &buffer, &size, quality, TJFLAG_FASTDCT);
    std::unique_ptr<unsigned char, void (*)(unsigned char*)> owned(buffer, tjFree);
    if (rc != 0) return {};
    return std::string(reinterpret_cast<const char*>(buffer), size);
}

// A camera's JPEG decoded at 1/`shrink` of its size. A warning fails it too:
// libjpeg-turbo warns when data went missing (a frame with packets lost on
// the way, then closed), and fills the rest of the picture with grey.
std::optional<Image> decode_whole(std::string_view jpeg, int shrink) {
    TjHandle tj(tjInitDecompress());
    if (!tj.handle || !starts_like_jpeg(jpeg)) return std::nullopt;
    const auto* data = reinterpret_cast<const unsigned char*>(jpeg.data());
    const auto size = static_cast<unsigned long>(jpeg.size());
    int width = 0, height = 0, subsampling = 0, colorspace = 0;
    if (tjDecompressHeader3(tj.handle, data, size, &width, &height, &subsampling, &colorspace) != 0)
        return std::nullopt;
    if (!decodable_size({width, height})) return std::nullopt;
    tjscalingfactor factor{1, shrink};
    Image image = blank_image(TJSCALED(width, factor), TJSCALED(height, factor));
    if (tjDecompress2(tj.handle, data, size, image.rgb.data(), image.width, 0, image.height, TJPF_RGB,
                      TJFLAG_STOPONWARNING | TJFLAG_LIMITSCANS) != 0) {
        return std::nullopt;
    }
    return image;
}

std::optional<Image> mjpeg_image(const CameraFrame& frame, int shrink) {
    std::string_view whole = complete_jpeg(frame.bytes);
    if (whole.empty()) return std::nullopt;
    return decode_whole(with_huffman_tables(whole), shrink);
}

// The largest of libjpeg-turbo's shrinks that still leaves `at_least` pixels
// across.
int shrink_to(int width, int at_least) {
    for (int shrink : {8, 4, 2}) {
        if (width / shrink >= at_least) return shrink;
    }
    return 1;
}
}  // namespace

std::string frame_jpeg(const CameraFrame& frame, int quality) {
    if (frame.format != PixelFormat::mjpeg) return yuv_jpeg(frame, quality);
    std::string_view whole = complete_jpeg(frame.bytes);
    if (whole.empty()) return {};
    std::string jpeg = with_huffman_tables(whole);
    // A frame damaged on its way over USB is caught here, not by whoever
    // opens the file.
    if (!decode_whole(jpeg, 8)) return {};
    return jpeg;
}

std::optional<Image> frame_image(const CameraFrame& frame, int shrink) {
    if (frame.format == PixelFormat::mjpeg) return mjpeg_image(frame, shrink);
    auto planes = planes_of(frame);
    if (!planes) return std::nullopt;
    TjHandle tj(tjInitDecompress());
    if (!tj.handle) return std::nullopt;
    const unsigned char* sources[3] = {planes->y.data(), planes->u.empty() ? nullptr : planes->u.data(),
                                       planes->v.empty() ? nullptr : planes->v.data()};
    int strides[3] = {frame.width, planes->chroma_width, planes->chroma_width};
    Image image = blank_image(frame.width, frame.height);
    if (tjDecodeYUVPlanes(tj.handle, sources, strides, planes->subsampling, image.rgb.data(), frame.width, 0,
                          frame.height, TJPF_RGB, 0) != 0) {
        return std::nullopt;
    }
    return image;
}

std::optional<double> frame_level(const CameraFrame& frame) {
    if (frame.format != PixelFormat::mjpeg) return luma_level(frame);
    // An eighth of the size costs little more than reading the headers.
    auto small = mjpeg_image(frame, 8);
    if (!small || small->rgb.empty()) return std::nullopt;
    double sum = 0;
    for (std::size_t i = 0; i < small->rgb.size(); i += 3) {
        sum += 0.299 * small->rgb[i] + 0.587 * small->rgb[i + 1] + 0.114 * small->rgb[i + 2];
    }
    return sum / static_cast<double>(small->rgb.size() / 3);
}

std::optional<double> frame_sharpness(const CameraFrame& frame) {
    if (frame.format != PixelFormat::mjpeg) return luma_sharpness(frame);
    auto picture = mjpeg_image(frame, shrink_to(frame.width, 640));
    if (!picture) return std::nullopt;
    return laplacian_variance(*picture);
}

std::optional<FrameMeasures> frame_measures(const CameraFrame& frame) {
    if (frame.format != PixelFormat::mjpeg) {
        auto level = luma_level(frame);
        auto sharpness = luma_sharpness(frame);
        if (!level || !sharpness) return std::nullopt;
        return FrameMeasures{*level, *sharpness};
    }
    auto picture = mjpeg_image(frame, shrink_to(frame.width, 640));
    if (!picture || picture->rgb.empty()) return std::nullopt;
    double sum = 0;
    for (std::size_t i = 0; i < picture->rgb.size(); i += 3) {
        sum += 0.299 * picture->rgb[i] + 0.587 * picture->rgb[i + 1] + 0.114 * picture->rgb[i + 2];
    }
    return FrameMeasures{sum / static_cast<double>(picture->rgb.size() / 3), laplacian_variance(*picture)};
}

std::string frame_reply_jpeg(const CameraFrame& frame, const std::optional<FrameRegion>& crop, FrameSize size) {
    if (!crop && size == FrameSize{frame.width, frame.height}) return frame_jpeg(frame);
    FrameRegion part = crop.value_or(FrameRegion{0, 0, frame.width, frame.height});
    // Motion-JPEG is decoded no larger than the reply needs.
    int shrink = 1;
    if (frame.format == PixelFormat::mjpeg) {
        shrink = std::min(shrink_to(part.width, size.width), shrink_to(part.height, size.height));
    }
    auto picture = frame_image(frame, shrink);
    if (!picture) return {};
    if (shrink > 1) {
        int right = (part.x + part.width + shrink - 1) / shrink, bottom = (part.y + part.height + shrink - 1) / shrink;
        part = {part.x / shrink, part.y / shrink, right - part.x / shrink, bottom - part.y / shrink};
    }
    Image cut = part == FrameRegion{0, 0, picture->width, picture->height} ? std::move(*picture)
                                                                           : crop_to_region(*picture, part);
    if (cut.width <= 0 || cut.height <= 0) return {};
    if (FrameSize{cut.width, cut.height} == size) return encode_jpeg(cut);
    return encode_jpeg(scale_image(cut, size.width, size.height));
}
