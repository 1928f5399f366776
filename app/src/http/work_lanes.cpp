#include "http/work_lanes.h"

#include "platform/thread_priority.h"

WorkLane::WorkLane(LaneSettings settings) : settings_(std::move(settings)) {
    for (int i = 0; i < settings_.threads; ++i) threads_.emplace_back([this] { serve(); });
}

WorkLane::~WorkLane() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    for (auto& thread : threads_) thread.join();
}

bool WorkLane::submit(std::function<void()> job) {
    {
        std::lock_guard lock(mutex_);
        if (queue_.size() >= settings_.waiting + idle_) return false;
        queue_.push_back(std::move(job));
    }
    wake_.notify_one();
    return true;
}

void WorkLane::serve() {
    // Expensive work yields the processor to the server's thread and the
    // cheap lanes.
    lower_this_thread_priority(settings_.nice);
    std::unique_lock lock(mutex_);
    for (;;) {
        ++idle_;
        wake_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
        --idle_;
        if (queue_.empty()) return;  // stopping, and nothing left to run
        auto job = std::move(queue_.front());
        queue_.pop_front();
        lock.unlock();
        job();
        job = nullptr;  // release what it holds before waiting again
        lock.lock();
    }
}
