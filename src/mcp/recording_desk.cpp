#include "mcp/recording_desk.h"

RecordingDesk::~RecordingDesk() {
    abandon();
    if (thread_.joinable()) thread_.join();
}

bool RecordingDesk::start(Job job, std::string path, std::chrono::steady_clock::time_point ends) {
    std::unique_lock lock(mutex_);
    if (held_ && held_->running) return false;
    if (thread_.joinable()) {
        // The last job is over; its thread only has to end.
        std::thread last = std::move(thread_);
        lock.unlock();
        last.join();
        lock.lock();
        if (held_ && held_->running) return false;  // another call started one meanwhile
    }
    held_ = Held{std::move(path), ends, true};
    result_.reset();
    ended_early_ = false;
    stop_ = std::make_shared<ExchangeStop>();
    thread_ = std::thread([this, job = std::move(job), stop = stop_]() mutable {
        JsonValue result = job(*stop);
        // What the job holds (a file it did not finish) goes before its
        // answer is told, not when the thread ends.
        job = nullptr;
        std::lock_guard guard(mutex_);
        result_ = std::move(result);
        if (held_) held_->running = false;
        done_.notify_all();
    });
    return true;
}

std::optional<RecordingDesk::Held> RecordingDesk::held() const {
    std::lock_guard lock(mutex_);
    return held_;
}

std::optional<JsonValue> RecordingDesk::collect(std::chrono::milliseconds limit, const std::function<bool()>& give_up) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    std::unique_lock lock(mutex_);
    while (held_ && held_->running && std::chrono::steady_clock::now() < deadline && !give_up()) {
        done_.wait_until(lock, std::min(deadline, std::chrono::steady_clock::now() + std::chrono::milliseconds(100)));
    }
    if (!held_ || held_->running) return std::nullopt;
    std::optional<JsonValue> result = std::move(result_);
    result_.reset();
    held_.reset();
    return result;
}

void RecordingDesk::abandon() {
    std::lock_guard lock(mutex_);
    if (stop_) stop_->stop();
}

void RecordingDesk::mark_ended_early(bool early) {
    std::lock_guard lock(mutex_);
    ended_early_ = early;
}

bool RecordingDesk::ended_early() const {
    std::lock_guard lock(mutex_);
    return ended_early_;
}
