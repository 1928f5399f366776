#pragma once
// Autofocus: find the lens position that gives the sharpest picture.
#include <functional>
#include <optional>
#include <vector>

struct FocusSample {
    int focus = 0;
    double sharpness = 0;
};

struct SweepResult {
    int focus = 0;                     // the sharpest position found
    double sharpness = 0;              // its sharpness
    std::vector<FocusSample> samples;  // every position tried, in the order tried
    int frames = 0;                    // frames the sweep took from the camera
    int discarded = 0;                 // frames that piled up while it measured, dropped uncounted
};

struct SweepPlan {
    int divisions = 16;  // the first pass tries the range in this many even steps
    int narrow_by = 4;   // each later pass: a step this many times finer, around the best so far
    int step = 1;        // the lens's own step: positions are min + k * step
};

// Coarse to fine: positions 1/divisions of the range apart (and the far
// end), then around the best so far at a step narrow_by times finer, out to
// the previous step on either side, and so on down to the lens's own step.
// `measure` moves the lens to a position and returns the sharpness of a
// frame taken there, or nullopt when the sweep must end now (the camera's
// frame budget is spent); no position is measured twice.
SweepResult sweep_focus(int min_focus, int max_focus, const std::function<std::optional<double>(int)>& measure,
                        SweepPlan plan = {});
