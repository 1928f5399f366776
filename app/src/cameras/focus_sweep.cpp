#include "cameras/focus_sweep.h"

#include <algorithm>
#include <set>

SweepResult sweep_focus(int min_focus, int max_focus, const std::function<std::optional<double>(int)>& measure,
                        SweepPlan plan) {
    SweepResult result;
    if (max_focus < min_focus) std::swap(min_focus, max_focus);
    const int unit = std::max(1, plan.step);
    const int last = (max_focus - min_focus) / unit;  // positions are indexes 0..last
    std::set<int> measured;
    bool have_best = false, ended = false;
    int best = 0;

    auto try_index = [&](int index) {
        if (ended || index < 0 || index > last || measured.count(index)) return;
        int focus = min_focus + index * unit;
        auto sharpness = measure(focus);
        if (!sharpness) {
            ended = true;
            return;
        }
        measured.insert(index);
        result.samples.push_back({focus, *sharpness});
        if (!have_best || *sharpness > result.sharpness) {
            best = index;
            result.focus = focus;
            result.sharpness = *sharpness;
            have_best = true;
        }
    };

    int step = std::max(1, last / std::max(1, plan.divisions));
    for (int index = 0; index <= last; index += step) try_index(index);
    try_index(last);

    while (step > 1 && !ended) {
        int previous = step;
        step = std::max(1, (previous + plan.narrow_by - 1) / std::max(1, plan.narrow_by));
        int centre = best;
        for (int k = 1; k * step < previous; ++k) {
            try_index(centre - k * step);
            try_index(centre + k * step);
        }
    }
    if (!have_best) result.focus = min_focus;
    return result;
}
