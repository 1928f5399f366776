#include "imaging/jpeg.h"

#include <turbojpeg.h>

#include <memory>
#include <stdexcept>

namespace {
struct TjHandle {
    tjhandle handle;
    explicit TjHandle(tjhandle h) : handle(h) {}
    ~TjHandle() {
        if (handle) tjDestroy(handle);
    }
    TjHandle(const TjHandle&) = delete;
    TjHandle& operator=(const TjHandle&) = delete;
};
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

std::optional<Image> decode_jpeg(std::string_view bytes) {
    if (!starts_like_jpeg(bytes)) return std::nullopt;
    TjHandle tj(tjInitDecompress());
    if (!tj.handle) return std::nullopt;
    auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    int width = 0, height = 0, subsampling = 0, colorspace = 0;
    if (tjDecompressHeader3(tj.handle, data, bytes.size(), &width, &height, &subsampling, &colorspace) != 0) {
        return std::nullopt;
    }
    if (width <= 0 || height <= 0 || width > 16384 || height > 16384) return std::nullopt;
    Image image = blank_image(width, height);
    if (tjDecompress2(tj.handle, data, bytes.size(), image.rgb.data(), width, 0, height, TJPF_RGB, 0) != 0) {
        // Warnings (a truncated tail, say) still leave a usable picture.
        if (tjGetErrorCode(tj.handle) != TJERR_WARNING) return std::nullopt;
    }
    return image;
}

bool starts_like_jpeg(std::string_view bytes) {
    return bytes.size() >= 3 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
           static_cast<unsigned char>(bytes[1]) == 0xD8 && static_cast<unsigned char>(bytes[2]) == 0xFF;
}
