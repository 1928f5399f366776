#include "mcp/session.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <exception>

#include "mcp/schema_check.h"
#include "mcp/tool_results.h"

namespace {
const char* const known_protocols[] = {"2025-11-25", "2025-06-18", "2025-03-26", "2024-11-05"};

const char* const instructions =
    "Vistrel gives you eyes: a webcam, the screen, and phones or IP cameras registered with the Vistrel app. "
    "Use look for a sharp photo (it focuses first), snap for a quick photo, screenshot to see the screen, and "
    "devices to find the device ids. Pictures come back inline, fitted to what you can take in. When a tool says "
    "it cannot reach Vistrel, ask the user to start the Vistrel app.";

JsonValue initialize_result(const JsonValue& params, const std::string& version) {
    const JsonValue& asked = json_member(params, "protocolVersion");
    std::string chosen = latest_protocol;
    for (const char* known : known_protocols) {
        if (asked == known) chosen = known;
    }
    return {{"protocolVersion", chosen},
            {"capabilities", {{"tools", {{"listChanged", false}}}}},
            {"serverInfo", {{"name", "vistrel-mcp"}, {"title", "Vistrel"}, {"version", version}}},
            {"instructions", instructions}};
}

JsonValue tool_listing() {
    JsonValue tools = JsonValue::array();
    for (const Tool& tool : tool_table()) tools.push_back(tool.listing);
    return {{"tools", std::move(tools)}};
}
}  // namespace

struct Session::Call : CallControl {
    Session& session;
    JsonValue id;
    std::string id_text;
    const Tool* tool = nullptr;
    JsonValue arguments;
    JsonValue progress_token;  // null: no progress wanted
    std::atomic<bool> stopped{false};
    // Guarded by the session's mutex.
    std::chrono::steady_clock::time_point started;
    double duration = 0;  // seconds; 0: not known
    double progress_sent = 0;

    explicit Call(Session& owner) : session(owner) {}
    bool cancelled() const override { return stopped; }
    void expect_duration(double seconds) override {
        std::lock_guard lock(session.mutex_);
        duration = seconds;
        if (!progress_token.is_null() && !session.ticker_.joinable()) {
            session.ticker_ = std::thread([&owner = session] { owner.tick(); });
        }
    }
};

Session::Session(SessionSetup setup) : setup_(std::move(setup)) {}

Session::~Session() {
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return in_flight_.empty() && replies_being_written_ == 0; });
        stopping_ = true;
    }
    changed_.notify_all();
    for (std::thread& worker : workers_) worker.join();
    if (ticker_.joinable()) ticker_.join();
}

void Session::receive(std::string_view line) {
    RpcMessage message = read_message(line);
    switch (message.kind) {
        case MessageKind::blank:
        case MessageKind::response:
            return;
        case MessageKind::unparsable:
            setup_.out.write_line(error_line(std::nullopt, rpc_error::parse_error, "parse error: the line is not JSON"));
            return;
        case MessageKind::invalid:
            setup_.out.write_line(
                error_line(message.id_text, rpc_error::invalid_request, "invalid request: " + message.problem));
            return;
        case MessageKind::notification:
            if (message.method == "notifications/cancelled") cancel(json_member(message.params, "requestId"));
            return;
        case MessageKind::request:
            answer_request(message);
            return;
    }
}

void Session::answer_request(const RpcMessage& message) {
    const std::string& method = message.method;
    bool known = method == "initialize" || method == "ping" || method == "tools/list" || method == "tools/call";
    if (!known) {
        setup_.out.write_line(error_line(message.id_text, rpc_error::method_not_found, "method not found: " + method));
        return;
    }
    if (!message.params.is_object()) {
        setup_.out.write_line(error_line(message.id_text, rpc_error::invalid_params, "params must be an object"));
        return;
    }
    if (method == "initialize") {
        setup_.out.write_line(result_line(message.id_text, initialize_result(message.params, setup_.version)));
    } else if (method == "ping") {
        setup_.out.write_line(result_line(message.id_text, JsonValue::object()));
    } else if (method == "tools/list") {
        static const JsonValue tools = tool_listing();
        setup_.out.write_line(result_line(message.id_text, tools));
    } else {
        start_call(message);
    }
}

void Session::start_call(const RpcMessage& message) {
    auto refuse = [&](const std::string& why) {
        setup_.out.write_line(error_line(message.id_text, rpc_error::invalid_params, why));
    };
    const JsonValue& name = json_member(message.params, "name");
    if (!name.is_string()) return refuse("params.name must be the name of a tool");
    const Tool* tool = find_tool(name.get<std::string>());
    if (tool == nullptr) return refuse("unknown tool: " + name.get<std::string>());
    JsonValue arguments = json_member(message.params, "arguments");
    if (arguments.is_null()) arguments = JsonValue::object();
    if (auto problem = schema_problem(tool->listing["inputSchema"], arguments, "arguments")) {
        return refuse(tool->name + ": " + *problem);
    }

    auto call = std::make_shared<Call>(*this);
    call->id = message.id;
    call->id_text = *message.id_text;
    call->tool = tool;
    call->arguments = std::move(arguments);
    const JsonValue& token = json_member(json_member(message.params, "_meta"), "progressToken");
    if (token.is_string() || token.is_number_integer()) call->progress_token = token;
    {
        std::lock_guard lock(mutex_);
        in_flight_.push_back(call);
        queue_.push_back(call);
        if (idle_workers_ == 0 && workers_.size() < setup_.max_workers) {
            workers_.emplace_back([this] { work(); });
            return changed_.notify_all();
        }
    }
    changed_.notify_all();
}

void Session::cancel(const JsonValue& id) {
    std::lock_guard lock(mutex_);
    auto found = std::find_if(in_flight_.begin(), in_flight_.end(), [&](const auto& call) { return call->id == id; });
    if (found == in_flight_.end()) return;  // unknown, or already answered
    (*found)->stopped = true;
    std::erase(queue_, *found);
    in_flight_.erase(found);
    changed_.notify_all();
}

void Session::work() {
    std::unique_lock lock(mutex_);
    for (;;) {
        ++idle_workers_;
        changed_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
        --idle_workers_;
        if (queue_.empty()) return;  // stopping
        std::shared_ptr<Call> call = queue_.front();
        queue_.pop_front();
        call->started = std::chrono::steady_clock::now();
        lock.unlock();
        run_call(call);
        lock.lock();
    }
}

void Session::run_call(const std::shared_ptr<Call>& call) {
    ToolContext context{setup_.app, setup_.settings, *call};
    JsonValue result;
    try {
        result = call->tool->run(call->arguments, context);
    } catch (const std::exception& error) {
        // A fault of ours must not end the server; the model sees what it was.
        result = error_result(std::string("vistrel-mcp could not complete the call: ") + error.what());
    }
    std::string line = result_line(call->id_text, result);
    {
        std::lock_guard lock(mutex_);
        if (call->stopped) return;
        std::erase(in_flight_, call);
        ++replies_being_written_;
    }
    // Outside the lock: a client slow to read must not hold up other calls.
    setup_.out.write_line(line);
    {
        std::lock_guard lock(mutex_);
        --replies_being_written_;
    }
    changed_.notify_all();
}

void Session::tick() {
    std::unique_lock lock(mutex_);
    while (!stopping_) {
        changed_.wait_for(lock, setup_.progress_interval);
        for (const auto& call : in_flight_) {
            if (!call->progress_token.is_null() && call->duration > 0) report_progress(*call);
        }
    }
}

// Seconds spent so far, in tenths, never past the expected length, and only
// when more than last time: progress must grow with each report.
void Session::report_progress(Call& call) {
    double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - call.started).count();
    double progress = std::min(std::floor(elapsed * 10) / 10, call.duration);
    if (progress <= call.progress_sent) return;
    call.progress_sent = progress;
    JsonValue params = {{"progressToken", call.progress_token},
                        {"progress", progress},
                        {"total", call.duration},
                        {"message", whole_number_text(progress) + " of " + whole_number_text(call.duration) + " s"}};
    setup_.out.write_line(notification_line("notifications/progress", params));
}

void Session::finish() {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return in_flight_.empty() && replies_being_written_ == 0; });
}
