#pragma once
// The frames of a recording's contact sheet, kept small while the recording
// is made: `count` frames at even times of a length known only at its end
// (a recording can be ended early). The frames at the even times of the
// planned length are kept; for a shorter end, frames at a spacing that
// doubles whenever too many are kept, so that the memory stays bounded and
// each frame shown lies within a small part of the sheet's spacing of its
// time.
#include "imaging/contact_sheet.h"
#include "imaging/frame_size.h"
#include "imaging/image.h"

#include <memory>
#include <vector>

class PreviewFrames {
public:
    // `count` frames (0: none) of frames of `frame` size, over a recording
    // of `planned_ticks` ticks at `frames_per_second`.
    PreviewFrames(int count, long long planned_ticks, int frames_per_second, FrameSize frame);

    // The size to keep a frame at: a tile of the contact sheet.
    FrameSize tile() const { return tile_; }

    // Whether the frame that stands at the ticks [first, first + ticks) is
    // to be kept.
    bool wanted(long long first, long long ticks) const;

    // Keeps `picture` (of the tile size) for those ticks, if wanted.
    void keep(long long first, long long ticks, std::shared_ptr<const Image> picture);

    // The sheet's frames of a recording that ended after `total_ticks`, at
    // even times, each the frame kept nearest to its time.
    std::vector<TimedFrame> pick(long long total_ticks) const;

    int frames_kept() const { return static_cast<int>(kept_.size()); }

private:
    struct Kept {
        long long first = 0, end = 0;
        std::shared_ptr<const Image> picture;
    };
    // The tick nearest to frame `index` of the sheet over `total` ticks.
    long long tick_of(int index, long long total) const;
    bool planned_within(long long first, long long end) const;
    bool spaced_within(long long first, long long end) const;

    int count_;
    long long planned_;
    int fps_;
    FrameSize tile_;
    long long spacing_ = 1;  // frames kept for a shorter end: one every so many ticks
    std::vector<Kept> kept_;
};
