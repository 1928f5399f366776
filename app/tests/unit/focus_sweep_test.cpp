#include "cameras/focus_sweep.h"

#include <gtest/gtest.h>

#include <cmath>
#include <set>

namespace {
// A lens whose sharpness falls off smoothly on both sides of `peak`.
double bell(int focus, int peak) {
    return 1000.0 / (1.0 + (focus - peak) * (focus - peak) / 40.0);
}

void expect_well_formed(const SweepResult& sweep, int min, int max) {
    std::set<int> seen;
    double best = -1;
    for (const auto& s : sweep.samples) {
        EXPECT_GE(s.focus, min);
        EXPECT_LE(s.focus, max);
        EXPECT_TRUE(seen.insert(s.focus).second) << "position " << s.focus << " measured twice";
        best = std::max(best, s.sharpness);
    }
    EXPECT_DOUBLE_EQ(sweep.sharpness, best);
    EXPECT_TRUE(seen.count(sweep.focus));
}

TEST(FocusSweep, LocksExactlyOnASmoothPeakAnywhereInTheRange) {
    for (int peak : {0, 1, 7, 15, 16, 100, 137, 200, 240, 254, 255}) {
        int calls = 0;
        SweepResult sweep = sweep_focus(0, 255, [&](int f) {
            ++calls;
            return bell(f, peak);
        });
        EXPECT_EQ(sweep.focus, peak);
        EXPECT_EQ(static_cast<std::size_t>(calls), sweep.samples.size());
        EXPECT_LE(sweep.samples.size(), 40u) << "a sweep must stay far cheaper than trying all 256 positions";
        expect_well_formed(sweep, 0, 255);
    }
}

TEST(FocusSweep, StartsCoarseThenNarrows) {
    SweepResult sweep = sweep_focus(0, 255, [](int f) { return bell(f, 90); });
    ASSERT_GE(sweep.samples.size(), 17u);
    // The first pass spans the whole range in even steps.
    EXPECT_EQ(sweep.samples.front().focus, 0);
    EXPECT_EQ(sweep.samples[16].focus, 240);
    EXPECT_EQ(sweep.samples[17].focus, 255);
    // Later samples all lie close to the peak.
    for (std::size_t i = 18; i < sweep.samples.size(); ++i) EXPECT_LE(std::abs(sweep.samples[i].focus - 90), 15);
}

TEST(FocusSweep, ToleratesNoiseOnTheMeasure) {
    for (int peak : {33, 128, 222}) {
        unsigned state = 12345;
        SweepResult sweep = sweep_focus(0, 255, [&](int f) {
            state = state * 1103515245 + 12345;
            double noise = ((state >> 16) % 1000) / 1000.0 - 0.5;  // +-0.5 %
            return bell(f, peak) * (1.0 + 0.01 * noise);
        });
        EXPECT_LE(std::abs(sweep.focus - peak), 2) << peak;
    }
}

TEST(FocusSweep, HandlesSmallAndReversedRanges) {
    SweepResult small = sweep_focus(10, 14, [](int f) { return bell(f, 12); });
    EXPECT_EQ(small.focus, 12);
    EXPECT_EQ(small.samples.size(), 5u);
    SweepResult reversed = sweep_focus(255, 0, [](int f) { return bell(f, 50); });
    EXPECT_EQ(reversed.focus, 50);
    SweepResult single = sweep_focus(5, 5, [](int) { return 1.0; });
    EXPECT_EQ(single.focus, 5);
    EXPECT_EQ(single.samples.size(), 1u);
}
}  // namespace

namespace {
// A real lens: 0..250 in steps of 5, few frames to spend.
TEST(FocusSweep, HalvingAroundTheBestFindsAStepwiseLensInFewPositions) {
    const SweepPlan lens{8, 2, 5};
    for (int peak : {0, 5, 45, 135, 200, 245, 250}) {
        SweepResult sweep = sweep_focus(
            0, 250, [&](int f) { return bell(f, peak); }, lens);
        EXPECT_EQ(sweep.focus, peak);
        EXPECT_LE(sweep.samples.size(), 20u) << "two frames each must fit in 40";
        for (const auto& s : sweep.samples) EXPECT_EQ(s.focus % 5, 0) << s.focus;
        expect_well_formed(sweep, 0, 250);
    }
}

TEST(FocusSweep, EndsWhenTheMeasureSaysSoAndKeepsTheBestSoFar) {
    int calls = 0;
    SweepResult sweep = sweep_focus(0, 255,
                                    [&](int f) -> std::optional<double> {
                                        if (++calls > 5) return std::nullopt;
                                        return bell(f, 60);
                                    },
                                    {});
    EXPECT_EQ(sweep.samples.size(), 5u);
    EXPECT_EQ(calls, 6) << "nothing is measured after the end";
    EXPECT_EQ(sweep.focus, 60);
    SweepResult none = sweep_focus(10, 20, [](int) -> std::optional<double> { return std::nullopt; });
    EXPECT_TRUE(none.samples.empty());
    EXPECT_EQ(none.focus, 10);
}
}  // namespace
