#include "imaging/jpeg.h"

#include "imaging/turbojpeg_handle.h"

#include <turbojpeg.h>

#include <memory>
#include <stdexcept>

namespace {
std::optional<FrameSize> header_size(tjhandle handle, std::string_view bytes) {
    if (!starts_like_jpeg(bytes)) return std::nullopt;
    int width = 0, height = 0, subsampling = 0, colorspace = 0;
    if (tjDecompressHeader3(handle, reinterpret_cast<const unsigned char*>(bytes.data()),
                            static_cast<unsigned long>(bytes.size()), &width, &height, &subsampling,
                            &colorspace) != 0 ||
        width <= 0 || height <= 0) {
        return std::nullopt;
    }
    return FrameSize{width, height};
}
}  // namespace

std::string encode_jpeg(const Image& image, int quality) {
    TjHandle tj(tjInitCompress());
    if (!tj.handle) throw std::runtime_error("cannot start the JPEG encoder");
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    int rc = tjCompress2(tj.handle, image.rgb.data(), image.width, 0, image.height, TJPF_RGB, &buffer, &size,
                         TJSAMP_420, quality, TJFLAG_FASTDCT);
    std::unique_ptr<unsigned char, void (*)(unsigned char*)> owned(buffer, tjFree);
    if (rc != 0) throw std::runtime_error(std::string("JPEG encoding failed: ") + tjGetErrorStr2(tj.handle));
    return std::string(reinterpret_cast<const char*>(buffer), size);
}

std::optional<FrameSize> jpeg_size(std::string_view bytes) {
    TjHandle tj(tjInitDecompress());
    if (!tj.handle) return std::nullopt;
    return header_size(tj.handle, bytes);
}

bool decodable_size(FrameSize size) {
    return size.width > 0 && size.height > 0 && size.width <= max_decoded_side && size.height <= max_decoded_side &&
           static_cast<long long>(size.width) * size.height <= max_decoded_pixels;
}

FrameSize decode_size(FrameSize native, std::optional<FrameSize> at_least) {
    if (!at_least) return native;
    int count = 0;
    const tjscalingfactor* factors = tjGetScalingFactors(&count);
    FrameSize best = native;
    for (int i = 0; factors && i < count; ++i) {
        const tjscalingfactor& f = factors[i];
        if (f.num > f.denom) continue;
        FrameSize scaled{TJSCALED(native.width, f), TJSCALED(native.height, f)};
        if (scaled.width >= at_least->width && scaled.height >= at_least->height &&
            static_cast<long long>(scaled.width) * scaled.height < static_cast<long long>(best.width) * best.height) {
            best = scaled;
        }
    }
    return best;
}

namespace {
std::optional<Image> decode_at(tjhandle handle, std::string_view bytes, FrameSize size) {
    Image image = blank_image(size.width, size.height);
    // LIMITSCANS: a progressive file with thousands of scans is a way to burn
    // processor time with a few kilobytes.
    if (tjDecompress2(handle, reinterpret_cast<const unsigned char*>(bytes.data()),
                      static_cast<unsigned long>(bytes.size()), image.rgb.data(), size.width, 0, size.height, TJPF_RGB,
                      TJFLAG_LIMITSCANS) != 0) {
        // Warnings (a truncated tail, say) still leave a usable picture.
        if (tjGetErrorCode(handle) != TJERR_WARNING) return std::nullopt;
    }
    return image;
}
}  // namespace

std::optional<Image> decode_jpeg(std::string_view bytes, std::optional<FrameSize> at_least) {
    TjHandle tj(tjInitDecompress());
    if (!tj.handle) return std::nullopt;
    auto native = header_size(tj.handle, bytes);
    if (!native || !decodable_size(*native)) return std::nullopt;
    return decode_at(tj.handle, bytes, decode_size(*native, at_least));
}

std::optional<Image> decode_jpeg_shrunk(std::string_view bytes, int shrink) {
    TjHandle tj(tjInitDecompress());
    if (!tj.handle) return std::nullopt;
    auto native = header_size(tj.handle, bytes);
    if (!native || !decodable_size(*native)) return std::nullopt;
    tjscalingfactor factor{1, shrink};
    return decode_at(tj.handle, bytes, {TJSCALED(native->width, factor), TJSCALED(native->height, factor)});
}

bool starts_like_jpeg(std::string_view bytes) {
    return bytes.size() >= 3 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
           static_cast<unsigned char>(bytes[1]) == 0xD8 && static_cast<unsigned char>(bytes[2]) == 0xFF;
}
