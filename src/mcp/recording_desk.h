#pragma once
// The screen recording that runs past the call that started it: a recording
// longer than a client waits for a call runs on a thread of its own, and its
// result waits here until the recording tool collects it. One at a time, as
// the app records one at a time.
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "client/http.h"
#include "client/json.h"

class RecordingDesk {
public:
    // Gives the tool result once the recording is over; every exchange it
    // makes takes the stop it is given.
    using Job = std::function<JsonValue(ExchangeStop& stop)>;

    RecordingDesk() = default;
    ~RecordingDesk();  // hangs up on a recording still running and waits for its thread
    RecordingDesk(const RecordingDesk&) = delete;
    RecordingDesk& operator=(const RecordingDesk&) = delete;

    // False when a recording held here still runs. One that is over but not
    // collected is replaced (its file stays where its call said).
    bool start(Job job, std::string path, std::chrono::steady_clock::time_point ends);

    struct Held {
        std::string path;
        std::chrono::steady_clock::time_point ends;  // when it is due to end
        bool running = false;
    };
    std::optional<Held> held() const;

    // Waits up to `limit` (in slices, giving up early when `give_up` says so)
    // for the recording to be over; its result, which is then forgotten, or
    // absent when it still runs or none is held.
    std::optional<JsonValue> collect(std::chrono::milliseconds limit, const std::function<bool()>& give_up);

    // Hangs up on the app: the recording ends at once and keeps no file.
    void abandon();

    // The app was asked to end the recording held here early.
    void mark_ended_early(bool early);
    bool ended_early() const;

private:
    mutable std::mutex mutex_;
    std::condition_variable done_;
    std::optional<Held> held_;
    std::optional<JsonValue> result_;
    bool ended_early_ = false;
    std::shared_ptr<ExchangeStop> stop_;  // the last job's
    std::thread thread_;
};
