#include "cameras/focus_sweep.h"

#include <algorithm>
#include <map>

SweepResult sweep_focus(int min_focus, int max_focus, const std::function<double(int)>& measure) {
    SweepResult result;
    if (max_focus < min_focus) std::swap(min_focus, max_focus);
    std::map<int, double> measured;
    bool have_best = false;

    auto try_position = [&](int focus) {
        if (measured.count(focus)) return;
        double sharpness = measure(focus);
        measured[focus] = sharpness;
        result.samples.push_back({focus, sharpness});
        if (!have_best || sharpness > result.sharpness) {
            result.focus = focus;
            result.sharpness = sharpness;
            have_best = true;
        }
    };

    int step = std::max(1, (max_focus - min_focus) / 16);
    for (int focus = min_focus; focus <= max_focus; focus += step) try_position(focus);
    try_position(max_focus);

    while (step > 1) {
        int previous = step;
        step = std::max(1, step / 4);
        int centre = result.focus;
        int low = std::max(min_focus, centre - previous);
        int high = std::min(max_focus, centre + previous);
        for (int focus = low; focus <= high; focus += step) try_position(focus);
    }
    return result;
}
