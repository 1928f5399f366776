#include "imaging/pixels.h"

PixelView crop_view(const PixelView& view, const FrameRegion& region) {
    PixelView part = view;
    part.width = region.width;
    part.height = region.height;
    // A bottom-up view keeps its last row first: the region's bottom row is
    // the one stored first.
    int first_stored = view.bottom_up ? view.height - region.y - region.height : region.y;
    part.data =
        view.data + static_cast<std::ptrdiff_t>(first_stored) * view.stride + static_cast<std::ptrdiff_t>(region.x) * 4;
    return part;
}

Image image_of(const PixelView& view) {
    if (!view.data || view.width <= 0 || view.height <= 0) return blank_image(0, 0);
    Image image = blank_image(view.width, view.height);
    const PixelLayout& l = view.layout;
    for (int y = 0; y < view.height; ++y) {
        const std::uint8_t* in = pixel_row(view, y);
        std::uint8_t* out = &image.rgb[static_cast<std::size_t>(y) * view.width * 3];
        for (int x = 0; x < view.width; ++x, in += 4, out += 3) {
            out[0] = in[l.red];
            out[1] = in[l.green];
            out[2] = in[l.blue];
        }
    }
    return image;
}
