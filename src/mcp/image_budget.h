#pragma once
// What a picture may be to go inline to a model, and the JPEG facts that
// decide it.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct PictureSize {
    std::int64_t width = 0;
    std::int64_t height = 0;
    bool operator==(const PictureSize&) const = default;
};

// Models take pictures up to a long edge of 1568 pixels and 1.15 megapixels;
// some desktop clients refuse results of 1 MB or more.
struct ImageBudget {
    std::int64_t long_edge = 1568;
    std::int64_t pixels = 1'150'000;
    std::size_t base64_bytes = 1'000'000;  // the encoded picture stays below this
};

// The frame size a JPEG declares in its start-of-frame segment; absent when
// the bytes are not a JPEG with one.
std::optional<PictureSize> jpeg_size(std::string_view bytes);

std::size_t base64_size(std::size_t bytes);
std::string base64(std::string_view bytes);

bool fits_budget(const ImageBudget& budget, PictureSize size, std::size_t jpeg_bytes);

// The largest size of the same shape that keeps within the budget, judged
// from a picture of `size` that took `jpeg_bytes`: the byte count of a JPEG
// grows about with its pixel count, so a picture too heavy at a size that
// fits the edges is asked for smaller still, with a tenth to spare.
PictureSize fitting_size(const ImageBudget& budget, PictureSize size, std::size_t jpeg_bytes);
