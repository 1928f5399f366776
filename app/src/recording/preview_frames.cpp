#include "recording/preview_frames.h"

#include "recording/recording.h"

#include <algorithm>
#include <cmath>

namespace {
// For a shorter end, eight frames for each one of the sheet at most (about
// 28 MB of tiles, whatever the count): a frame shown then lies within an
// eighth of the sheet's spacing of its time.
constexpr int spaced_per_sheet_frame = 8;
}  // namespace

PreviewFrames::PreviewFrames(int count, long long planned_ticks, int frames_per_second, FrameSize frame)
    : count_(std::max(0, count)), planned_(std::max(1LL, planned_ticks)), fps_(std::max(1, frames_per_second)) {
    int columns = std::max(1, static_cast<int>(std::ceil(std::sqrt(static_cast<double>(count_)))));
    int rows = std::max(1, (count_ + columns - 1) / columns);
    tile_ = sheet_tile_size(frame, columns, rows, {sheet_max_side, sheet_max_pixels});
}

long long PreviewFrames::tick_of(int index, long long total) const {
    // Frame `index` of `count` falls index / count of the way through;
    // rounded to the nearest tick.
    long long tick = (2 * index * total + count_) / (2LL * count_);
    return std::clamp(tick, 0LL, std::max(0LL, total - 1));
}

bool PreviewFrames::planned_within(long long first, long long end) const {
    for (int i = 0; i < count_; ++i) {
        long long tick = tick_of(i, planned_);
        if (tick >= first && tick < end) return true;
    }
    return false;
}

bool PreviewFrames::spaced_within(long long first, long long end) const {
    long long multiple = (first + spacing_ - 1) / spacing_ * spacing_;
    return multiple < end;
}

bool PreviewFrames::wanted(long long first, long long ticks) const {
    if (count_ == 0 || ticks <= 0) return false;
    return planned_within(first, first + ticks) || spaced_within(first, first + ticks);
}

void PreviewFrames::keep(long long first, long long ticks, std::shared_ptr<const Image> picture) {
    if (!wanted(first, ticks) || !picture) return;
    kept_.push_back({first, first + ticks, std::move(picture)});
    auto spaced = [&] {
        return std::count_if(kept_.begin(), kept_.end(),
                             [&](const Kept& k) { return !planned_within(k.first, k.end); });
    };
    while (spaced() > spaced_per_sheet_frame * count_) {
        spacing_ *= 2;
        std::erase_if(kept_,
                      [&](const Kept& k) { return !planned_within(k.first, k.end) && !spaced_within(k.first, k.end); });
    }
}

std::vector<TimedFrame> PreviewFrames::pick(long long total_ticks) const {
    std::vector<TimedFrame> frames;
    if (kept_.empty() || total_ticks <= 0) return frames;
    double secs = static_cast<double>(total_ticks) / fps_;
    for (int i = 0; i < count_; ++i) {
        long long tick = tick_of(i, total_ticks);
        const Kept* best = nullptr;
        long long best_distance = 0;
        for (const Kept& k : kept_) {
            long long distance = tick < k.first ? k.first - tick : tick >= k.end ? tick - (k.end - 1) : 0;
            if (!best || distance < best_distance) {
                best = &k;
                best_distance = distance;
            }
        }
        frames.push_back({*best->picture, sheet_frame_time(i, count_, secs)});
    }
    return frames;
}
