#include "imaging/jpeg.h"

#include "imaging/turbojpeg_handle.h"

#include <turbojpeg.h>

#include <memory>
#include <mutex>
#include <stdexcept>
#include <vector>

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

namespace {
// A compressor and its output buffer, kept between pictures: starting
// libjpeg-turbo and finding memory for a large picture's bytes cost as much
// as compressing a small one.
struct Encoder {
    TjHandle tj{tjInitCompress()};
    unsigned char* buffer = nullptr;
    unsigned long capacity = 0;

    ~Encoder() { tjFree(buffer); }

    // Room for the largest JPEG of that size, so that libjpeg-turbo never
    // reallocates while it writes.
    unsigned char* room_for(int width, int height) {
        unsigned long needed = tjBufSize(width, height, TJSAMP_420);
        if (needed == static_cast<unsigned long>(-1)) throw std::runtime_error("the picture is too large for JPEG");
        if (needed > capacity) {
            tjFree(buffer);
            buffer = tjAlloc(static_cast<int>(needed));
            capacity = buffer ? needed : 0;
            if (!buffer) throw std::runtime_error("cannot allocate memory for a JPEG");
        }
        return buffer;
    }
};

// One encoder for each picture being compressed at once, lent out and taken
// back. Not one per thread: with mingw-w64's thread-local storage a
// thread_local object's memory is freed before its destructor runs when the
// thread ends, and libjpeg-turbo then crashes on what was its compressor.
class EncoderPool {
public:
    std::unique_ptr<Encoder> take() {
        {
            std::lock_guard lock(mutex_);
            if (!idle_.empty()) {
                std::unique_ptr<Encoder> encoder = std::move(idle_.back());
                idle_.pop_back();
                return encoder;
            }
        }
        auto encoder = std::make_unique<Encoder>();
        if (!encoder->tj.handle) throw std::runtime_error("cannot start the JPEG encoder");
        return encoder;
    }
    void give_back(std::unique_ptr<Encoder> encoder) {
        std::lock_guard lock(mutex_);
        idle_.push_back(std::move(encoder));
    }

private:
    std::mutex mutex_;
    std::vector<std::unique_ptr<Encoder>> idle_;
};

// Never destroyed: a thread may still be compressing while the app exits.
EncoderPool& encoders() {
    static auto* pool = new EncoderPool;
    return *pool;
}

struct LentEncoder {
    std::unique_ptr<Encoder> encoder = encoders().take();
    ~LentEncoder() { encoders().give_back(std::move(encoder)); }
};

// 4:2:0 and the fast integer transform: the quickest settings, and at
// quality 90 the pictures stay as sharp as an agent can read them.
std::string compress(const unsigned char* pixels, int width, int pitch, int height, int format, bool bottom_up,
                     int quality) {
    LentEncoder lent;
    Encoder& encoder = *lent.encoder;
    unsigned char* out = encoder.room_for(width, height);
    unsigned long size = encoder.capacity;
    int flags = TJFLAG_FASTDCT | TJFLAG_NOREALLOC | (bottom_up ? TJFLAG_BOTTOMUP : 0);
    if (tjCompress2(encoder.tj.handle, pixels, width, pitch, height, format, &out, &size, TJSAMP_420, quality, flags) !=
        0) {
        throw std::runtime_error(std::string("JPEG encoding failed: ") + tjGetErrorStr2(encoder.tj.handle));
    }
    return std::string(reinterpret_cast<const char*>(out), size);
}

// libjpeg-turbo's name for a layout it reads directly, or -1.
int turbojpeg_format(const PixelLayout& layout) {
    if (same_layout(layout, bgrx_layout)) return TJPF_BGRX;
    if (same_layout(layout, rgbx_layout)) return TJPF_RGBX;
    if (same_layout(layout, xrgb_layout)) return TJPF_XRGB;
    if (same_layout(layout, xbgr_layout)) return TJPF_XBGR;
    return -1;
}
}  // namespace

std::string encode_jpeg(const Image& image, int quality) {
    return compress(image.rgb.data(), image.width, 0, image.height, TJPF_RGB, false, quality);
}

std::string encode_jpeg(const PixelView& view, int quality) {
    int format = turbojpeg_format(view.layout);
    if (format < 0) return encode_jpeg(image_of(view), quality);
    // A bottom-up view points at its first stored row, which libjpeg-turbo
    // takes as the picture's last.
    return compress(view.data, view.width, view.stride, view.height, format, view.bottom_up, quality);
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
