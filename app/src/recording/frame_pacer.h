#pragma once
// The clock of a recording at a constant frame rate: tick i falls i / fps
// seconds after the start. A frame is grabbed once a tick's time has come;
// it stands at that tick and at every later tick whose time came while it
// was being grabbed, since no frame was grabbed for those in time. So the
// video keeps time with the clock however long grabs take, and a recording
// of N seconds holds N times the rate of frames.
#include <chrono>
#include <limits>

class FramePacer {
public:
    static constexpr long long no_limit = std::numeric_limits<long long>::max();

    // `total` ticks at most (no_limit: as long as frames come).
    explicit FramePacer(int frames_per_second, long long total = no_limit);

    int frames_per_second() const { return fps_; }
    long long total() const { return total_; }

    // When tick `tick` falls, from the start.
    std::chrono::nanoseconds tick_time(long long tick) const;

    // How many ticks have fallen `elapsed` after the start (tick 0 falls at
    // once), at most the total.
    long long ticks_fallen(std::chrono::nanoseconds elapsed) const;

    // The end (exclusive) of the ticks at which the frame grabbed for tick
    // `tick`, ready `elapsed` after the start, stands: `tick` itself and
    // every tick that fell before it was ready, never past the total.
    long long stands_until(long long tick, std::chrono::nanoseconds elapsed) const;

private:
    int fps_;
    long long total_;
};
