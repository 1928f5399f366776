#include "imaging/test_scene.h"

#include "imaging/bitmap_font.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {
struct Rgb {
    float r, g, b;
};

constexpr float card_width = 16.0f;
constexpr float card_height = 9.0f;

constexpr Rgb white{240, 240, 236};
constexpr Rgb black{18, 18, 22};
constexpr Rgb ink{25, 30, 45};

// Text whose top-left corner is at (x0, y0) and whose glyphs are `height`
// units tall; true where (x, y) falls on ink.
bool text_ink(std::string_view text, float x0, float y0, float height, float x, float y) {
    float pixel = height / glyph_rows;
    if (x < x0 || y < y0) return false;
    int column = static_cast<int>((x - x0) / pixel);
    int row = static_cast<int>((y - y0) / pixel);
    if (row >= glyph_rows) return false;
    std::size_t index = static_cast<std::size_t>(column / (glyph_columns + 1));
    if (index >= text.size()) return false;
    return glyph_ink(text[index], row, column % (glyph_columns + 1));
}

Rgb background(float x, float y) {
    float t = (x / card_width + y / card_height) * 0.5f;
    return {205 - 40 * t, 208 - 38 * t, 200 - 20 * t};
}

Rgb colour_bar(float x) {
    static constexpr Rgb bars[] = {{235, 235, 235}, {235, 235, 16}, {16, 235, 235}, {16, 235, 16},
                                   {235, 16, 235},  {235, 16, 16},  {16, 16, 235},  {16, 16, 16}};
    int index = std::clamp(static_cast<int>((x - 0.5f) / 15.0f * 8), 0, 7);
    return bars[index];
}

Rgb scene_colour(float x, float y, const SceneText& text) {
    if (x < 0 || y < 0 || x >= card_width || y >= card_height) return {90, 90, 95};
    if (x < 0.08f || y < 0.08f || x > card_width - 0.08f || y > card_height - 0.08f) return black;

    if (y < 1.6f) {
        if (text_ink("VISTREL SIMULATED CAMERA", 0.5f, 0.4f, 0.45f, x, y)) return ink;
        if (text_ink(text.clock, 11.0f, 0.4f, 0.45f, x, y)) return {170, 20, 20};
        if (text_ink("THE QUICK BROWN FOX JUMPS OVER THE LAZY DOG 0123456789", 0.5f, 1.1f, 0.22f, x, y)) return ink;
        if (text_ink(text.frame, 11.0f, 1.1f, 0.22f, x, y)) return ink;
        return background(x, y);
    }

    // Siemens star: 32 black and white spokes meeting in the middle.
    float dx = x - 3.2f, dy = y - 4.6f;
    float r = std::sqrt(dx * dx + dy * dy);
    if (r < 2.4f) {
        if (r < 0.06f) return {128, 128, 128};
        float angle = std::atan2(dy, dx) + std::numbers::pi_v<float>;
        int spoke = static_cast<int>(angle / (2 * std::numbers::pi_v<float>)*32);
        return spoke % 2 ? black : white;
    }

    if (x >= 6.2f && x < 9.4f && y >= 2.2f && y < 5.4f) {
        int cx = static_cast<int>((x - 6.2f) / 0.4f), cy = static_cast<int>((y - 2.2f) / 0.4f);
        return (cx + cy) % 2 ? black : white;
    }

    // Rings, dark and light bands of equal width.
    float rx = x - 12.6f, ry = y - 3.8f;
    float rr = std::sqrt(rx * rx + ry * ry);
    if (rr < 1.6f) return static_cast<int>(rr / 0.12f) % 2 ? Rgb{40, 60, 120} : Rgb{230, 225, 200};

    // Wedge: stripes from 2.5 to 25 cycles per unit, left to right.
    if (x >= 6.2f && x < 15.4f && y >= 5.9f && y < 6.9f) {
        float t = (x - 6.2f) / 9.2f;
        float phase = 9.2f * (2.5f * t + 11.25f * t * t);
        return phase - std::floor(phase) < 0.5f ? black : white;
    }

    if (y >= 7.4f && y < 8.6f && x >= 0.5f && x < 15.5f) return colour_bar(x);

    return background(x, y);
}
}  // namespace

Image render_test_scene(int width, int height, double zoom, const SceneText& text) {
    Image image = blank_image(width, height);
    // Units of the card per pixel: the card covers the frame, then zoom narrows
    // the view around the middle of the card.
    double pixels_per_unit = std::max(width / card_width, height / card_height) * std::max(zoom, 0.01);
    double unit = 1.0 / pixels_per_unit;
    for (int py = 0; py < height; ++py) {
        float y = static_cast<float>(card_height / 2 + (py + 0.5 - height / 2.0) * unit);
        std::uint8_t* row = &image.rgb[static_cast<std::size_t>(py) * width * 3];
        for (int px = 0; px < width; ++px) {
            float x = static_cast<float>(card_width / 2 + (px + 0.5 - width / 2.0) * unit);
            Rgb c = scene_colour(x, y, text);
            row[px * 3 + 0] = static_cast<std::uint8_t>(c.r);
            row[px * 3 + 1] = static_cast<std::uint8_t>(c.g);
            row[px * 3 + 2] = static_cast<std::uint8_t>(c.b);
        }
    }
    return image;
}
