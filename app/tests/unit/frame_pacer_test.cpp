#include "recording/frame_pacer.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <vector>

namespace {
using std::chrono::milliseconds;
using std::chrono::nanoseconds;

TEST(FramePacer, TicksFallAtEvenTimesWithoutDrift) {
    FramePacer at25(25);
    EXPECT_EQ(at25.tick_time(0), nanoseconds(0));
    EXPECT_EQ(at25.tick_time(1), milliseconds(40));
    EXPECT_EQ(at25.tick_time(3000), std::chrono::seconds(120));
    // A rate that does not divide a second: rounded down to the nanosecond,
    // but every whole second exactly, however long the recording.
    FramePacer at30(30);
    EXPECT_EQ(at30.tick_time(1), nanoseconds(33'333'333));
    EXPECT_EQ(at30.tick_time(2), nanoseconds(66'666'666));
    EXPECT_EQ(at30.tick_time(3), milliseconds(100));
    EXPECT_EQ(at30.tick_time(30 * 86'400), std::chrono::hours(24));
}

TEST(FramePacer, CountsTheTicksThatHaveFallenUpToTheTotal) {
    struct Case {
        int fps;
        long long total;
        nanoseconds elapsed;
        long long fallen;
    };
    const Case cases[] = {
        {25, FramePacer::no_limit, nanoseconds(-1), 0},
        {25, FramePacer::no_limit, nanoseconds(0), 1},
        {25, FramePacer::no_limit, nanoseconds(39'999'999), 1},
        {25, FramePacer::no_limit, milliseconds(40), 2},
        {25, FramePacer::no_limit, std::chrono::seconds(1), 26},
        {25, 50, std::chrono::seconds(1), 26},
        {25, 50, std::chrono::seconds(2), 50},
        {25, 50, std::chrono::hours(1), 50},
        {25, 0, std::chrono::seconds(1), 0},
        {30, FramePacer::no_limit, nanoseconds(33'333'332), 1},
        {30, FramePacer::no_limit, nanoseconds(33'333'333), 2},
        {30, FramePacer::no_limit, nanoseconds(66'666'666), 3},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FramePacer(c.fps, c.total).ticks_fallen(c.elapsed), c.fallen)
            << c.fps << " fps, total " << c.total << ", " << c.elapsed.count() << " ns";
    }
    // Whatever the rate and the moment: exactly the ticks whose time has come.
    std::mt19937_64 random(7);
    for (int fps : {1, 7, 24, 25, 30, 60, 1000}) {
        FramePacer pacer(fps);
        for (int i = 0; i < 2000; ++i) {
            nanoseconds elapsed(static_cast<long long>(random() % 5'000'000'000ULL));
            long long fallen = pacer.ticks_fallen(elapsed);
            ASSERT_LE(pacer.tick_time(fallen - 1), elapsed) << fps << " fps at " << elapsed.count();
            ASSERT_GT(pacer.tick_time(fallen), elapsed) << fps << " fps at " << elapsed.count();
        }
    }
}

// Where each frame stands when the clock waits for each tick and a grab
// takes grab_time(n) for the n-th frame: [first, end) per frame.
struct Stand {
    long long first, end;
};
std::vector<Stand> run_clock(const FramePacer& pacer, const std::function<nanoseconds(std::size_t)>& grab_time) {
    std::vector<Stand> stands;
    for (long long tick = 0; tick < pacer.total();) {
        nanoseconds ready = pacer.tick_time(tick) + grab_time(stands.size());
        long long until = pacer.stands_until(tick, ready);
        EXPECT_GT(until, tick);
        stands.push_back({tick, until});
        tick = until;
    }
    return stands;
}

long long ticks_of(const std::vector<Stand>& stands) {
    long long ticks = 0;
    for (std::size_t i = 0; i < stands.size(); ++i) {
        if (i > 0) {
            EXPECT_EQ(stands[i].first, stands[i - 1].end) << "frame " << i;
        }
        ticks += stands[i].end - stands[i].first;
    }
    return ticks;
}

TEST(FramePacer, AFrameNotGrabbedInTimeIsStoodInForByTheOneBefore) {
    // Quick grabs: one frame a tick.
    FramePacer pacer(25, 50);
    auto quick = run_clock(pacer, [](std::size_t) { return milliseconds(5); });
    EXPECT_EQ(quick.size(), 50u);
    EXPECT_EQ(ticks_of(quick), 50);
    // Grabs of 100 ms: each frame also stands at the two ticks that fell
    // while it was grabbed; the last one only up to the total.
    auto slow = run_clock(pacer, [](std::size_t) { return milliseconds(100); });
    ASSERT_EQ(slow.size(), 17u);
    EXPECT_EQ(slow[0].first, 0);
    EXPECT_EQ(slow[0].end, 3);
    EXPECT_EQ(slow[16].first, 48);
    EXPECT_EQ(slow[16].end, 50);
    EXPECT_EQ(ticks_of(slow), 50);
    // A grab of exactly one period is late for the next tick.
    auto period = run_clock(pacer, [](std::size_t) { return milliseconds(40); });
    EXPECT_EQ(period.size(), 25u);
    EXPECT_EQ(period[0].end, 2);
    // Uneven grabs, one taking longer than the whole recording: the count
    // of ticks is the total whatever happens.
    const std::vector<int> uneven = {3, 45, 0, 250, 39, 41, 80, 2500};
    auto mixed = run_clock(pacer, [&](std::size_t n) { return milliseconds(uneven[n % uneven.size()]); });
    EXPECT_EQ(ticks_of(mixed), 50);
    EXPECT_EQ(mixed[0].end, 1);
    EXPECT_EQ(mixed[1].first, 1);
    EXPECT_EQ(mixed[1].end, 3) << "ready at 85 ms: ticks 1 and 2 have fallen";
    for (int seconds : {1, 5, 120}) {
        FramePacer whole(25, seconds * 25LL);
        std::mt19937 random(static_cast<unsigned>(seconds));
        EXPECT_EQ(ticks_of(run_clock(whole, [&](std::size_t) { return milliseconds(random() % 300); })),
                  seconds * 25LL);
    }
}
}  // namespace
