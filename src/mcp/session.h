#pragma once
// One conversation with a client: each line read is a message; replies and
// notifications go out as lines. Tool calls run on worker threads, so a long
// recording never holds up a ping or another call; replies go out as the
// calls end, in any order.
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "mcp/app_api.h"
#include "mcp/json_rpc.h"
#include "mcp/tools.h"

// Where the lines go. Called from several threads; each line must come out
// whole, never mixed with another.
class LineSink {
public:
    virtual ~LineSink() = default;
    virtual void write_line(std::string_view line) = 0;
};

struct SessionSetup {
    LineSink& out;
    AppApi& app;
    ToolSettings settings;
    std::string version;  // the server's, for initialize
    std::chrono::milliseconds progress_interval{1000};
    std::size_t max_workers = 8;  // calls beyond this many wait their turn
};

inline constexpr const char* latest_protocol = "2025-11-25";

class Session {
public:
    explicit Session(SessionSetup setup);
    ~Session();  // waits for the calls that are still running
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    void receive(std::string_view line);

    // The end of input: returns once every call has answered or has been
    // cancelled. A cancelled call may still be running; it will say nothing.
    void finish();

private:
    struct Call;
    void answer_request(const RpcMessage& message);
    void start_call(const RpcMessage& message);
    void cancel(const JsonValue& id);
    void work();
    void run_call(const std::shared_ptr<Call>& call);
    void tick();
    void report_progress(Call& call);

    SessionSetup setup_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::shared_ptr<Call>> queue_;
    std::vector<std::shared_ptr<Call>> in_flight_;  // queued or running, not cancelled
    std::size_t replies_being_written_ = 0;
    std::size_t idle_workers_ = 0;
    bool stopping_ = false;
    std::vector<std::thread> workers_;
    std::thread ticker_;
};
