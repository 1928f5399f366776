#pragma once
// Handler threads, by lane: each lane has its own threads and its own bounded
// wait queue, so that cheap requests never wait behind expensive ones and
// expensive ones cannot pile up without limit.
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct LaneSettings {
    std::string name;
    int threads = 1;              // at most this many jobs run at once
    std::size_t waiting = 0;      // at most this many more wait for a thread
    int nice = 0;                 // added to the niceness of the lane's threads (Windows: below normal)
    bool skip_when_gone = false;  // a job whose client has hung up is not started
    std::string busy_message;     // the 503 "error" text when the queue is full
};

class WorkLane {
public:
    explicit WorkLane(LaneSettings settings);
    ~WorkLane();  // runs what is queued, then joins
    WorkLane(const WorkLane&) = delete;
    WorkLane& operator=(const WorkLane&) = delete;

    const LaneSettings& settings() const { return settings_; }

    // False, and the job is dropped, when every thread is busy and the queue
    // is full.
    bool submit(std::function<void()> job);

private:
    void serve();

    LaneSettings settings_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<std::function<void()>> queue_;
    std::size_t idle_ = 0;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};
