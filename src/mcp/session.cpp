#include "mcp/session.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <exception>

#include "mcp/schema_check.h"
#include "mcp/tool_results.h"

namespace {
// Every revision served, the newest first: the one of per-request metadata,
// then those that open with initialize.
const char* const known_protocols[] = {"2026-07-28", "2025-11-25", "2025-06-18", "2025-03-26", "2024-11-05"};
const char* const legacy_protocols[] = {"2025-11-25", "2025-06-18", "2025-03-26", "2024-11-05"};

// The _meta keys of a request of revision 2026-07-28.
constexpr const char* version_key = "io.modelcontextprotocol/protocolVersion";
constexpr const char* capabilities_key = "io.modelcontextprotocol/clientCapabilities";

// The tool list never changes while the server runs; an hour is a hint that
// spares clients asking again, not a promise.
constexpr std::int64_t list_ttl_ms = 3'600'000;

const char* const instructions =
    "Vistrel gives you eyes: a webcam, the screen, and phones or IP cameras registered with the Vistrel app. "
    "Use look for a sharp photo (it focuses first), snap for a quick photo, screenshot to see the screen, a monitor "
    "or a window, and devices to find the device ids. Pictures come back inline, fitted to what you can take in; "
    "to read small text, ask for a region of the picture at full resolution. When a tool says it cannot reach "
    "Vistrel, ask the user to start the Vistrel app.";

JsonValue server_info(const std::string& version) {
    return {{"name", "vistrel-mcp"}, {"title", "Vistrel"}, {"version", version}};
}

JsonValue initialize_result(const JsonValue& params, const std::string& version) {
    const JsonValue& asked = json_member(params, "protocolVersion");
    std::string chosen = latest_protocol;
    for (const char* known : legacy_protocols) {
        if (asked == known) chosen = known;
    }
    return {{"protocolVersion", chosen},
            {"capabilities", {{"tools", {{"listChanged", false}}}}},
            {"serverInfo", server_info(version)},
            {"instructions", instructions}};
}

// A result of revision 2026-07-28: its type, and the server named in _meta.
JsonValue modern_result(JsonValue result, const std::string& version) {
    result["resultType"] = "complete";
    result["_meta"]["io.modelcontextprotocol/serverInfo"] = server_info(version);
    return result;
}

// Cacheable results also say for how long, and that any client may share them.
JsonValue cacheable(JsonValue result) {
    result["ttlMs"] = list_ttl_ms;
    result["cacheScope"] = "public";
    return result;
}

JsonValue discover_result(const std::string& version) {
    JsonValue versions = JsonValue::array();
    for (const char* known : known_protocols) versions.push_back(known);
    return cacheable(modern_result({{"supportedVersions", std::move(versions)},
                                    {"capabilities", {{"tools", {{"listChanged", false}}}}},
                                    {"instructions", instructions}},
                                   version));
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
    bool modern = false;       // answered in revision 2026-07-28
    std::atomic<bool> cancelled_by_client{false};
    ExchangeStop stop;
    // Guarded by the session's mutex.
    std::chrono::steady_clock::time_point started;
    double duration = 0;  // seconds; 0: not known
    double progress_sent = 0;

    explicit Call(Session& owner) : session(owner) {}
    bool cancelled() const override { return cancelled_by_client; }
    ExchangeStop& exchanges() override { return stop; }
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
    stop_calls(false);
    {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return in_flight_.empty() && running_ == 0 && replies_being_written_ == 0; });
        stopping_ = true;
    }
    changed_.notify_all();
    for (std::thread& worker : workers_) worker.join();
    if (ticker_.joinable()) ticker_.join();
}

void Session::write(std::string_view line) {
    bool written = true;
    {
        std::lock_guard order(write_order_);
        if (!silent_) written = setup_.out.write_line(line);
    }
    if (!written) lost_client();
}

// Once, on whichever thread found the client gone, holding none of the locks.
void Session::lost_client() {
    if (lost_.exchange(true)) return;
    abandon();
    setup_.client_gone();
}

void Session::receive(std::string_view line) {
    RpcMessage message = read_message(line);
    switch (message.kind) {
        case MessageKind::blank:
        case MessageKind::response:
            return;
        case MessageKind::unparsable:
            write(error_line(std::nullopt, rpc_error::parse_error, "parse error: the line is not JSON"));
            return;
        case MessageKind::invalid:
            write(error_line(message.id_text, rpc_error::invalid_request, "invalid request: " + message.problem));
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
    const std::optional<std::string>& id = message.id_text;
    const JsonValue& meta = json_member(message.params, "_meta");
    // A request that names its revision in _meta is of revision 2026-07-28;
    // one without is of the era that opens with initialize.
    bool modern = meta.is_object() && meta.contains(version_key) && method != "initialize";
    bool known = method == "tools/list" || method == "tools/call" || method == "server/discover" ||
                 (!modern && (method == "initialize" || method == "ping"));
    if (!known) return write(error_line(id, rpc_error::method_not_found, "method not found: " + method));
    if (!message.params.is_object()) {
        return write(error_line(id, rpc_error::invalid_params, "params must be an object"));
    }
    if (method == "server/discover" || modern) {
        const JsonValue& version = json_member(meta, version_key);
        if (!version.is_string() || !json_member(meta, capabilities_key).is_object()) {
            return write(
                error_line(id, rpc_error::invalid_params,
                           std::string("invalid params: _meta must hold ") + version_key + " and " + capabilities_key));
        }
        if (version != modern_protocol) {
            JsonValue supported = JsonValue::array();
            for (const char* known_version : known_protocols) supported.push_back(known_version);
            return write(error_line(id, rpc_error::unsupported_protocol_version, "Unsupported protocol version",
                                    {{"supported", std::move(supported)}, {"requested", version}}));
        }
        modern = true;
    }
    if (method == "initialize") {
        write(result_line(id, initialize_result(message.params, setup_.version)));
    } else if (method == "ping") {
        write(result_line(id, JsonValue::object()));
    } else if (method == "server/discover") {
        static const JsonValue discovered = discover_result(setup_.version);
        write(result_line(id, discovered));
    } else if (method == "tools/list") {
        static const JsonValue tools = tool_listing();
        static const JsonValue modern_tools = cacheable(modern_result(tool_listing(), setup_.version));
        write(result_line(id, modern ? modern_tools : tools));
    } else {
        start_call(message, modern);
    }
}

void Session::start_call(const RpcMessage& message, bool modern) {
    auto refuse = [&](const std::string& why) { write(error_line(message.id_text, rpc_error::invalid_params, why)); };
    auto answer = [&](JsonValue result) {
        write(result_line(message.id_text, modern ? modern_result(std::move(result), setup_.version) : result));
    };
    const JsonValue& name = json_member(message.params, "name");
    if (!name.is_string()) return refuse("params.name must be the name of a tool");
    const Tool* tool = find_tool(name.get<std::string>());
    if (tool == nullptr) return refuse("unknown tool: " + name.get<std::string>());
    JsonValue arguments = json_member(message.params, "arguments");
    if (arguments.is_null()) arguments = JsonValue::object();
    // Arguments that break the schema are the model's to correct: it reads
    // the result, where a protocol error would end its turn.
    if (auto problem = schema_problem(tool->listing["inputSchema"], arguments, "arguments")) {
        return answer(error_result(tool->name + ": " + *problem));
    }

    auto call = std::make_shared<Call>(*this);
    call->id = message.id;
    call->id_text = *message.id_text;
    call->tool = tool;
    call->arguments = std::move(arguments);
    call->modern = modern;
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

// The call gets no reply, and its exchanges with the app end at once: the
// app stops a recording whose client hangs up.
void Session::cancel(const JsonValue& id) {
    std::lock_guard lock(mutex_);
    auto found = std::find_if(in_flight_.begin(), in_flight_.end(), [&](const auto& call) { return call->id == id; });
    if (found == in_flight_.end()) return;  // unknown, or already answered
    (*found)->cancelled_by_client = true;
    (*found)->stop.stop();
    std::erase(queue_, *found);
    in_flight_.erase(found);
    changed_.notify_all();
}

void Session::stop_calls(bool answer_them) {
    if (!answer_them) silent_ = true;
    {
        std::lock_guard lock(mutex_);
        for (const auto& call : in_flight_) call->stop.stop();
    }
    recordings_.abandon();
}

void Session::finish(std::chrono::milliseconds limit) {
    stop_calls(true);
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, limit, [&] { return in_flight_.empty() && running_ == 0 && replies_being_written_ == 0; });
}

void Session::abandon(std::chrono::milliseconds limit) {
    stop_calls(false);
    // The replies being written are not waited for: one of them may be the
    // write that found the client gone, on this very thread.
    std::unique_lock lock(mutex_);
    changed_.wait_for(lock, limit, [&] { return in_flight_.empty() && running_ == 0; });
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
        ++running_;
        lock.unlock();
        run_call(call);
        lock.lock();
    }
}

void Session::run_call(const std::shared_ptr<Call>& call) {
    ToolContext context{setup_.app, setup_.settings, *call, sizes_, recordings_};
    JsonValue result;
    try {
        result = call->tool->run(call->arguments, context);
    } catch (const std::exception& error) {
        // A fault of ours must not end the server; the model sees what it was.
        result = error_result(std::string("vistrel-mcp could not complete the call: ") + error.what());
    }
    // Stopped by the end of input: what failed failed for that.
    if (call->stop.stopped() && result.contains("isError")) {
        result = error_result("stopped: the client closed its input before the call was done");
    }
    if (call->modern) result = modern_result(std::move(result), setup_.version);
    std::string line = result_line(call->id_text, result);
    {
        std::lock_guard lock(mutex_);
        --running_;
        if (call->cancelled_by_client) return changed_.notify_all();
        std::erase(in_flight_, call);
        ++replies_being_written_;
    }
    // Outside the lock: a client slow to read must not hold up other calls.
    write(line);
    {
        std::lock_guard lock(mutex_);
        --replies_being_written_;
    }
    changed_.notify_all();
}

// Every interval, each call with a progress token and a known length reports
// the seconds spent so far, in tenths, never past its length, and only when
// more than last time: progress must grow with each report. The lines are
// written outside the session's lock, as replies are, but before any reply
// that comes after them.
void Session::tick() {
    std::unique_lock lock(mutex_);
    std::unique_lock order(write_order_, std::defer_lock);
    while (!stopping_) {
        changed_.wait_for(lock, setup_.progress_interval);
        std::vector<std::string> lines;
        auto now = std::chrono::steady_clock::now();
        for (const auto& call : in_flight_) {
            if (call->progress_token.is_null() || call->duration <= 0) continue;
            double elapsed = std::chrono::duration<double>(now - call->started).count();
            double progress = std::min(std::floor(elapsed * 10) / 10, call->duration);
            if (progress <= call->progress_sent) continue;
            call->progress_sent = progress;
            JsonValue params = {
                {"progressToken", call->progress_token},
                {"progress", progress},
                {"total", call->duration},
                {"message", whole_number_text(progress) + " of " + whole_number_text(call->duration) + " s"}};
            lines.push_back(notification_line("notifications/progress", params));
        }
        if (lines.empty()) continue;
        order.lock();
        lock.unlock();
        bool written = true;
        for (const std::string& line : lines) {
            if (written && !silent_) written = setup_.out.write_line(line);
        }
        order.unlock();
        if (!written) lost_client();
        lock.lock();
    }
}
