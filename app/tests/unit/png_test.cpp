#include "imaging/png.h"

#include <gtest/gtest.h>
#include <png.h>

namespace {
std::string png_of(int width, int height, std::uint32_t format, const std::vector<std::uint8_t>& pixels) {
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(width);
    image.height = static_cast<png_uint_32>(height);
    image.format = format;
    png_alloc_size_t size = 0;
    png_image_write_to_memory(&image, nullptr, &size, 0, pixels.data(), 0, nullptr);
    std::string bytes(size, '\0');
    EXPECT_TRUE(png_image_write_to_memory(&image, bytes.data(), &size, 0, pixels.data(), 0, nullptr));
    return bytes;
}

TEST(Png, DecodesToRgbWhateverTheStoredForm) {
    auto rgb = decode_png(png_of(2, 1, PNG_FORMAT_RGB, {255, 0, 0, 0, 0, 255}));
    ASSERT_TRUE(rgb);
    EXPECT_EQ(rgb->width, 2);
    EXPECT_EQ(rgb->rgb, (std::vector<std::uint8_t>{255, 0, 0, 0, 0, 255}));

    // Screenshots often come with an opaque alpha channel.
    auto rgba = decode_png(png_of(1, 1, PNG_FORMAT_RGBA, {10, 20, 30, 255}));
    ASSERT_TRUE(rgba);
    EXPECT_EQ(rgba->rgb, (std::vector<std::uint8_t>{10, 20, 30}));

    auto grey = decode_png(png_of(1, 1, PNG_FORMAT_GRAY, {77}));
    ASSERT_TRUE(grey);
    EXPECT_EQ(grey->rgb, (std::vector<std::uint8_t>{77, 77, 77}));
}

TEST(Png, RefusesWhatIsNotAPng) {
    EXPECT_FALSE(decode_png(""));
    EXPECT_FALSE(decode_png("\x89PNG\r\n\x1a\n truncated"));
    std::string whole = png_of(2, 2, PNG_FORMAT_RGB, std::vector<std::uint8_t>(12, 9));
    EXPECT_FALSE(decode_png(whole.substr(0, whole.size() / 2)));
}
}  // namespace
