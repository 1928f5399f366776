#pragma once
// A contact sheet: frames of a recording laid out in a grid, each with the
// time it was taken written in its corner, so that one picture shows what
// happened over the recording.
#include "imaging/frame_size.h"
#include "imaging/image.h"

#include <string>
#include <vector>

struct TimedFrame {
    Image picture;
    double seconds = 0;  // from the start of the recording
};

// When the frames of a sheet of `count` frames over `secs` seconds are taken:
// at even times from the start, index/count of the way through.
double sheet_frame_time(int index, int count, double secs);

// "0 s", "1.25 s", "12.5 s": at most two decimals, no trailing zeros.
std::string sheet_time_label(double seconds);

// How large a sheet may be: at most `side` pixels on each side and `pixels`
// in all.
struct SheetLimits {
    int side = 0;
    long long pixels = 0;
};

// The size of one tile: the frame's shape, as large as fits `columns` x
// `rows` tiles within the limits, never larger than the frame itself, at
// least 16 pixels a side.
FrameSize sheet_tile_size(FrameSize frame, int columns, int rows, SheetLimits limits);

// ceil(sqrt(count)) columns, as many rows as needed; every frame scaled to
// the tile size of the first; the sheet within the limits.
Image contact_sheet(const std::vector<TimedFrame>& frames, SheetLimits limits);
