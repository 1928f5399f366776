#pragma once
// Autofocus: find the lens position that gives the sharpest picture.
#include <functional>
#include <vector>

struct FocusSample {
    int focus = 0;
    double sharpness = 0;
};

struct SweepResult {
    int focus = 0;                     // the sharpest position found
    double sharpness = 0;              // its sharpness
    std::vector<FocusSample> samples;  // every position tried, in the order tried
    int frames = 0;                    // frames the camera delivered for the sweep
};

// Coarse to fine: positions 1/16 of the range apart, then a quarter of that
// step around the best so far, and so on down to single steps. `measure`
// moves the lens to a position and returns the sharpness of a frame taken
// there; no position is measured twice.
SweepResult sweep_focus(int min_focus, int max_focus, const std::function<double(int)>& measure);
