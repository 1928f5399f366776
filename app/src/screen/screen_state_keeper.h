#pragma once
// The screen's state as last seen, looked at again on a thread of its own,
// so that /health and /devices never wait for a display that does not
// answer: they get the last state (a fresh one when the look is quick), or,
// once a look has been under way too long, a state that says the display
// does not answer.
#include "screen/screen_backend.h"

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

struct KeeperTiming {
    std::chrono::milliseconds fresh{1000};   // a state this young is not looked at again
    std::chrono::milliseconds patience{40};  // how long a caller waits for a look under way
    std::chrono::milliseconds stalled{300};  // a look under way this long: the display does not answer
};

// Asks the display, within deadlines of its own. Nothing when there is
// nothing new to tell (the display is busy with a picture).
using ScreenLook = std::function<std::optional<ScreenState>()>;
// The problem of a display that has not answered a look for that long.
using SilenceText = std::function<std::string(std::chrono::milliseconds)>;

class ScreenStateKeeper {
public:
    ScreenStateKeeper(ScreenLook look, SilenceText silence, KeeperTiming timing = {});
    ~ScreenStateKeeper();
    ScreenStateKeeper(const ScreenStateKeeper&) = delete;
    ScreenStateKeeper& operator=(const ScreenStateKeeper&) = delete;

    // Waits at most `patience` for a look under way (or `wait_for_first`
    // when nothing has been seen yet and it is given); not at all when the
    // last look found no screen.
    ScreenState current(std::optional<std::chrono::milliseconds> wait_for_first = std::nullopt);

    // What a capture has just seen, so that the next caller need not look.
    void seen(ScreenState state);

private:
    using Clock = std::chrono::steady_clock;
    void run();

    ScreenLook look_;
    SilenceText silence_;
    KeeperTiming timing_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::optional<ScreenState> state_;
    Clock::time_point seen_at_;
    std::optional<Clock::time_point> looking_since_;
    bool wanted_ = false;
    bool stopping_ = false;
    std::thread thread_;
};
