#include "recording/yuv.h"

#include <cstdlib>

namespace {
// BT.601 in limited range: Y = 16 + 219 * luma, U and V = 128 + 224 *
// colour difference, of R, G, B in 0..1. The weights are scaled by 2^16 and
// rounded so that each row sums to what the range needs: white gives exactly
// Y 235, and every grey U and V 128.
constexpr int fraction_bits = 16;
constexpr int y_r = 16829, y_g = 33039, y_b = 6416;    // 219/255 x (0.299, 0.587, 0.114)
constexpr int u_r = -9714, u_g = -19070, u_b = 28784;  // 224/255 x (-0.168736, -0.331264, 0.5)
constexpr int v_r = 28784, v_g = -24103, v_b = -4681;  // 224/255 x (0.5, -0.418688, -0.081312)
static_assert(u_r + u_g + u_b == 0 && v_r + v_g + v_b == 0, "grey must have no colour");

std::uint8_t luma(int r, int g, int b) {
    constexpr int offset = (16 << fraction_bits) + (1 << (fraction_bits - 1));
    return static_cast<std::uint8_t>((y_r * r + y_g * g + y_b * b + offset) >> fraction_bits);
}

// From the sums of R, G and B over a 2x2 block: their mean's colour, rounded.
std::uint8_t chroma(int wr, int wg, int wb, int r4, int g4, int b4) {
    constexpr int shift = fraction_bits + 2;
    constexpr int offset = (128 << shift) + (1 << (shift - 1));
    return static_cast<std::uint8_t>((wr * r4 + wg * g4 + wb * b4 + offset) >> shift);
}

// Where a picture's pixels are: the start of each row, bytes between pixels,
// and the offsets of red, green and blue within a pixel.
struct PixelRows {
    const std::uint8_t* top = nullptr;
    std::ptrdiff_t stride = 0;
    int pixel_bytes = 0;
    int red = 0, green = 0, blue = 0;
    int width = 0, height = 0;

    const std::uint8_t* row(int index) const { return top + stride * index; }
};

// Writes the Y plane into `y` and each block's U and V at u[i * step] and
// v[i * step]: step 1 for I420's planes, 2 for NV12's pairs.
void convert(const PixelRows& in, std::uint8_t* y, std::uint8_t* u, std::uint8_t* v, int step) {
    const int width = in.width, height = in.height, px = in.pixel_bytes;
    for (int row = 0; row < height; row += 2) {
        const std::uint8_t* upper = in.row(row);
        const std::uint8_t* lower = in.row(row + 1);
        std::uint8_t* y_upper = y + static_cast<std::ptrdiff_t>(row) * width;
        std::uint8_t* y_lower = y_upper + width;
        for (int column = 0; column < width; column += 2) {
            const std::uint8_t* block[4] = {upper + column * px, upper + (column + 1) * px, lower + column * px,
                                            lower + (column + 1) * px};
            std::uint8_t* luma_out[4] = {y_upper + column, y_upper + column + 1, y_lower + column,
                                         y_lower + column + 1};
            int r4 = 0, g4 = 0, b4 = 0;
            for (int i = 0; i < 4; ++i) {
                int r = block[i][in.red], g = block[i][in.green], b = block[i][in.blue];
                *luma_out[i] = luma(r, g, b);
                r4 += r;
                g4 += g;
                b4 += b;
            }
            *u = chroma(u_r, u_g, u_b, r4, g4, b4);
            *v = chroma(v_r, v_g, v_b, r4, g4, b4);
            u += step;
            v += step;
        }
    }
}

PixelRows rgb_rows(const Image& image) {
    PixelRows rows;
    if (image.width <= 0 || image.height <= 0 ||
        image.rgb.size() < static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height) * 3) {
        return rows;
    }
    rows.top = image.rgb.data();
    rows.stride = static_cast<std::ptrdiff_t>(image.width) * 3;
    rows.pixel_bytes = 3;
    rows.red = 0, rows.green = 1, rows.blue = 2;
    rows.width = even_side(image.width);
    rows.height = even_side(image.height);
    return rows;
}

PixelRows bgra_rows(const BgraRows& bgra) {
    PixelRows rows;
    if (!bgra.pixels || bgra.width <= 0 || bgra.height <= 0 ||
        std::abs(bgra.stride) < static_cast<std::ptrdiff_t>(bgra.width) * 4) {
        return rows;
    }
    rows.top = bgra.pixels;
    rows.stride = bgra.stride;
    rows.pixel_bytes = 4;
    rows.red = 2, rows.green = 1, rows.blue = 0;
    rows.width = even_side(bgra.width);
    rows.height = even_side(bgra.height);
    return rows;
}

// Nothing to convert: a picture that is no picture, or one pixel across.
bool empty(const PixelRows& rows) {
    return rows.width == 0 || rows.height == 0;
}

// The planes are resized, never shrunk to fit, so that a frame filled 25
// times a second keeps its storage.
void fill(const PixelRows& rows, I420Frame& frame) {
    frame.width = empty(rows) ? 0 : rows.width;
    frame.height = empty(rows) ? 0 : rows.height;
    std::size_t pixels = static_cast<std::size_t>(frame.width) * static_cast<std::size_t>(frame.height);
    frame.y.resize(pixels);
    frame.u.resize(pixels / 4);
    frame.v.resize(pixels / 4);
    if (pixels > 0) convert(rows, frame.y.data(), frame.u.data(), frame.v.data(), 1);
}

void fill(const PixelRows& rows, Nv12Frame& frame) {
    frame.width = empty(rows) ? 0 : rows.width;
    frame.height = empty(rows) ? 0 : rows.height;
    std::size_t pixels = static_cast<std::size_t>(frame.width) * static_cast<std::size_t>(frame.height);
    frame.y.resize(pixels);
    frame.uv.resize(pixels / 2);
    if (pixels > 0) convert(rows, frame.y.data(), frame.uv.data(), frame.uv.data() + 1, 2);
}
}  // namespace

void fill_i420(const Image& image, I420Frame& frame) {
    fill(rgb_rows(image), frame);
}

void fill_i420(const BgraRows& rows, I420Frame& frame) {
    fill(bgra_rows(rows), frame);
}

void fill_nv12(const Image& image, Nv12Frame& frame) {
    fill(rgb_rows(image), frame);
}

void fill_nv12(const BgraRows& rows, Nv12Frame& frame) {
    fill(bgra_rows(rows), frame);
}

I420Frame i420_from_rgb(const Image& image) {
    I420Frame frame;
    fill_i420(image, frame);
    return frame;
}

I420Frame i420_from_bgra(const BgraRows& rows) {
    I420Frame frame;
    fill_i420(rows, frame);
    return frame;
}

Nv12Frame nv12_from_rgb(const Image& image) {
    Nv12Frame frame;
    fill_nv12(image, frame);
    return frame;
}

Nv12Frame nv12_from_bgra(const BgraRows& rows) {
    Nv12Frame frame;
    fill_nv12(rows, frame);
    return frame;
}
