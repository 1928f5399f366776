#include "screen/screen_state_keeper.h"

ScreenStateKeeper::ScreenStateKeeper(ScreenLook look, SilenceText silence, KeeperTiming timing)
    : look_(std::move(look)), silence_(std::move(silence)), timing_(timing) {}

ScreenStateKeeper::~ScreenStateKeeper() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    // A look stuck on a display that never answers ends at its own deadline.
    if (thread_.joinable()) thread_.join();
}

void ScreenStateKeeper::run() {
    std::unique_lock lock(mutex_);
    for (;;) {
        changed_.wait(lock, [&] { return wanted_ || stopping_; });
        if (stopping_) return;
        wanted_ = false;
        looking_since_ = Clock::now();
        lock.unlock();
        std::optional<ScreenState> seen = look_();
        lock.lock();
        looking_since_.reset();
        if (seen) state_ = std::move(*seen);
        seen_at_ = Clock::now();
        changed_.notify_all();
    }
}

ScreenState ScreenStateKeeper::current(std::optional<std::chrono::milliseconds> wait_for_first) {
    std::unique_lock lock(mutex_);
    if (!thread_.joinable()) thread_ = std::thread(&ScreenStateKeeper::run, this);
    auto now = Clock::now();
    bool stale = !state_ || now - seen_at_ >= timing_.fresh;
    if (stale && !looking_since_) {
        wanted_ = true;
        changed_.notify_all();
    }
    // A display already known not to answer is not waited for again.
    if (stale && (!state_ || state_->screen)) {
        auto patience = state_ || !wait_for_first ? timing_.patience : *wait_for_first;
        Clock::time_point asked = now;
        changed_.wait_until(lock, now + patience, [&] { return state_ && seen_at_ >= asked; });
    }
    if (looking_since_) {
        auto silent = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - *looking_since_);
        if (silent >= timing_.stalled || !state_) return {std::nullopt, silence_(silent)};
    }
    if (!state_) return {std::nullopt, silence_(std::chrono::milliseconds(0))};
    return *state_;
}

void ScreenStateKeeper::seen(ScreenState state) {
    std::lock_guard lock(mutex_);
    state_ = std::move(state);
    seen_at_ = Clock::now();
    changed_.notify_all();
}
