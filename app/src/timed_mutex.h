#pragma once
// A mutex that can be waited for until a deadline. std::timed_mutex waits
// with pthread_mutex_clocklock, which thread checkers of this compiler
// generation do not follow (they then report every unlock as an unlock of an
// unlocked mutex); this one waits on a condition variable, which they do.
#include <chrono>
#include <condition_variable>
#include <mutex>

class TimedMutex {
public:
    void lock() {
        std::unique_lock guard(state_);
        freed_.wait(guard, [this] { return !held_; });
        held_ = true;
    }

    bool try_lock() {
        std::lock_guard guard(state_);
        if (held_) return false;
        held_ = true;
        return true;
    }

    template <class Clock, class Duration>
    bool try_lock_until(const std::chrono::time_point<Clock, Duration>& deadline) {
        std::unique_lock guard(state_);
        if (!freed_.wait_until(guard, deadline, [this] { return !held_; })) return false;
        held_ = true;
        return true;
    }

    template <class Rep, class Period>
    bool try_lock_for(const std::chrono::duration<Rep, Period>& patience) {
        return try_lock_until(std::chrono::steady_clock::now() + patience);
    }

    void unlock() {
        {
            std::lock_guard guard(state_);
            held_ = false;
        }
        freed_.notify_one();
    }

private:
    std::mutex state_;
    std::condition_variable freed_;
    bool held_ = false;
};
