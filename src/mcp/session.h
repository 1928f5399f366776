#pragma once
// One conversation with a client: each line read is a message; replies and
// notifications go out as lines. Tool calls run on worker threads, so a long
// recording never holds up a ping or another call; replies go out as the
// calls end, in any order.
//
// Two eras of the protocol are served side by side: clients that open with
// initialize (revisions 2024-11-05 to 2025-11-25), and clients whose every
// request carries its revision in _meta (2026-07-28), which may ask
// server/discover first.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "mcp/app_api.h"
#include "mcp/device_sizes.h"
#include "mcp/json_rpc.h"
#include "mcp/recording_desk.h"
#include "mcp/tools.h"

// Where the lines go. Called from several threads; each line must come out
// whole, never mixed with another. False: the client is gone.
class LineSink {
public:
    virtual ~LineSink() = default;
    virtual bool write_line(std::string_view line) = 0;
};

struct SessionSetup {
    LineSink& out;
    AppApi& app;
    ToolSettings settings;
    std::string version;  // the server's, for initialize and server/discover
    std::chrono::milliseconds progress_interval{1000};
    std::size_t max_workers = 8;  // calls beyond this many wait their turn
    // Called once a line cannot be written, after everything has been stopped.
    std::function<void()> client_gone = [] {};
};

// The newest revision of each era.
inline constexpr const char* latest_protocol = "2025-11-25";
inline constexpr const char* modern_protocol = "2026-07-28";

class Session {
public:
    explicit Session(SessionSetup setup);
    ~Session();  // stops what still runs and waits for it
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    void receive(std::string_view line);

    // The end of input: the client is shutting down. Every call still running
    // is stopped at once (its exchanges with the app end, so that a recording
    // ends and the app can take the next), and so is a recording that runs
    // past its call; each call still answers, a stopped one that it was
    // stopped. Returns once they have answered, or after `limit`.
    void finish(std::chrono::milliseconds limit = std::chrono::seconds(5));

    // The client is gone (a line could not be written): stops everything as
    // finish does, with no further line written; returns once the calls have
    // ended (so that their unfinished files are gone), or after `limit`. Then
    // the setup's client_gone is called.
    void abandon(std::chrono::milliseconds limit = std::chrono::seconds(2));

private:
    struct Call;
    void answer_request(const RpcMessage& message);
    void start_call(const RpcMessage& message, bool modern);
    void cancel(const JsonValue& id);
    void stop_calls(bool answer_them);
    void wait_for_calls(std::chrono::milliseconds limit);
    void work();
    void run_call(const std::shared_ptr<Call>& call);
    void tick();
    void write(std::string_view line);
    void lost_client();

    SessionSetup setup_;
    DeviceSizes sizes_;
    RecordingDesk recordings_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::shared_ptr<Call>> queue_;
    std::vector<std::shared_ptr<Call>> in_flight_;  // queued or running, not cancelled
    std::size_t running_ = 0;                       // calls being run by workers, cancelled ones too
    std::size_t replies_being_written_ = 0;
    std::size_t idle_workers_ = 0;
    bool stopping_ = false;
    std::atomic<bool> silent_{false};  // the client is gone: nothing more is written
    std::atomic<bool> lost_{false};    // a write has failed
    // Held while a line is written; the ticker takes it before it lets go of
    // mutex_, so that no progress report of a call follows the call's reply.
    std::mutex write_order_;
    std::vector<std::thread> workers_;
    std::thread ticker_;
};
