#include "recording/frame_pacer.h"

#include <algorithm>

namespace {
constexpr long long nanoseconds_per_second = 1'000'000'000;
}

FramePacer::FramePacer(int frames_per_second, long long total)
    : fps_(std::max(1, frames_per_second)), total_(std::max(0LL, total)) {}

std::chrono::nanoseconds FramePacer::tick_time(long long tick) const {
    // Whole seconds and the rest apart, so that neither a long recording
    // overflows nor a rate that does not divide a second drifts.
    long long seconds = tick / fps_, rest = tick % fps_;
    return std::chrono::nanoseconds(seconds * nanoseconds_per_second + rest * nanoseconds_per_second / fps_);
}

long long FramePacer::ticks_fallen(std::chrono::nanoseconds elapsed) const {
    if (elapsed.count() < 0) return 0;
    long long seconds = elapsed.count() / nanoseconds_per_second, rest = elapsed.count() % nanoseconds_per_second;
    long long fallen = std::min(total_, seconds * fps_ + rest * fps_ / nanoseconds_per_second + 1);
    // tick_time rounds down to a whole nanosecond: the next tick may fall a
    // fraction of one early.
    if (fallen < total_ && tick_time(fallen) <= elapsed) ++fallen;
    return fallen;
}

long long FramePacer::stands_until(long long tick, std::chrono::nanoseconds elapsed) const {
    if (tick >= total_) return total_;
    return std::max(tick + 1, ticks_fallen(elapsed));
}
