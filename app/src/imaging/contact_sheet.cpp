#include "imaging/contact_sheet.h"

#include "imaging/bitmap_font.h"
#include "imaging/scale.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

double sheet_frame_time(int index, int count, double secs) {
    return count > 0 ? secs * index / count : 0;
}

std::string sheet_time_label(double seconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", std::max(0.0, seconds));
    std::string label = text;
    while (label.back() == '0') label.pop_back();
    if (label.back() == '.') label.pop_back();
    return label + " s";
}

FrameSize sheet_tile_size(FrameSize frame, int columns, int rows, SheetLimits limits) {
    if (frame.width <= 0 || frame.height <= 0 || columns <= 0 || rows <= 0) return {16, 16};
    double whole = static_cast<double>(columns) * frame.width * rows * frame.height;
    double scale = std::min({1.0, static_cast<double>(limits.side) / (columns * frame.width),
                             static_cast<double>(limits.side) / (rows * frame.height),
                             std::sqrt(static_cast<double>(limits.pixels) / whole)});
    int width = std::max(16, static_cast<int>(std::floor(frame.width * scale)));
    int height = std::max(16, static_cast<int>(std::floor(frame.height * scale)));
    return {width, height};
}

namespace {
// The label on a dark band, so that it reads on any picture.
void write_label(Image& sheet, int left, int top, int tile_width, const std::string& label) {
    int pixel = std::clamp(tile_width / 160, 1, 4);  // the size of one font dot
    int margin = pixel * 2;
    int band_width = std::min(tile_width, static_cast<int>(label.size()) * (glyph_columns + 1) * pixel + margin * 2);
    int band_height = glyph_rows * pixel + margin * 2;
    for (int y = 0; y < band_height && top + y < sheet.height; ++y) {
        for (int x = 0; x < band_width && left + x < sheet.width; ++x) {
            std::uint8_t* p = &sheet.rgb[(static_cast<std::size_t>(top + y) * sheet.width + (left + x)) * 3];
            bool ink = false;
            int gx = x - margin, gy = y - margin;
            if (gx >= 0 && gy >= 0) {
                int column = gx / pixel, row = gy / pixel;
                std::size_t index = static_cast<std::size_t>(column / (glyph_columns + 1));
                if (index < label.size()) ink = glyph_ink(label[index], row, column % (glyph_columns + 1));
            }
            std::uint8_t level = ink ? 255 : 0;
            for (int c = 0; c < 3; ++c) p[c] = ink ? level : static_cast<std::uint8_t>(p[c] / 4);
        }
    }
}
}  // namespace

Image contact_sheet(const std::vector<TimedFrame>& frames, SheetLimits limits) {
    if (frames.empty()) return blank_image(16, 16);
    int count = static_cast<int>(frames.size());
    int columns = static_cast<int>(std::ceil(std::sqrt(static_cast<double>(count))));
    int rows = (count + columns - 1) / columns;
    FrameSize tile = sheet_tile_size({frames[0].picture.width, frames[0].picture.height}, columns, rows, limits);
    Image sheet = blank_image(columns * tile.width, rows * tile.height);
    for (int i = 0; i < count; ++i) {
        Image scaled = scale_image(frames[static_cast<std::size_t>(i)].picture, tile.width, tile.height);
        int left = (i % columns) * tile.width, top = (i / columns) * tile.height;
        for (int y = 0; y < tile.height; ++y) {
            std::copy_n(&scaled.rgb[static_cast<std::size_t>(y) * tile.width * 3], tile.width * 3,
                        &sheet.rgb[(static_cast<std::size_t>(top + y) * sheet.width + left) * 3]);
        }
        write_label(sheet, left, top, tile.width, sheet_time_label(frames[static_cast<std::size_t>(i)].seconds));
    }
    return sheet;
}
