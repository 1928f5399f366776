#include "session_harness.h"

#include <atomic>
#include <stdexcept>

bool CollectedLines::write_line(std::string_view line) {
    if (refuse) return false;
    std::lock_guard lock(mutex_);
    lines_.emplace_back(line);
    changed_.notify_all();
    return true;
}

std::vector<std::string> CollectedLines::lines() const {
    std::lock_guard lock(mutex_);
    return lines_;
}

std::string CollectedLines::wait_for(const std::string& text, std::size_t count) const {
    std::unique_lock lock(mutex_);
    std::string found;
    auto holds = [&] {
        std::size_t seen = 0;
        for (const std::string& line : lines_) {
            if (line.find(text) != std::string::npos && ++seen == count) {
                found = line;
                return true;
            }
        }
        return false;
    };
    if (!changed_.wait_for(lock, std::chrono::seconds(20), holds)) throw std::runtime_error("no line holds " + text);
    return found;
}

TempFolder::TempFolder() {
    static std::atomic<int> count{0};
    auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    path = std::filesystem::temp_directory_path() /
           ("vistrel-mcp-test-" + std::to_string(stamp) + "-" + std::to_string(count++));
    std::filesystem::create_directories(path);
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
}

std::string TempFolder::text() const {
    std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

std::vector<std::string> TempFolder::names() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

SessionHarness::SessionHarness(std::chrono::milliseconds progress_interval) : progress_interval_(progress_interval) {
    settings.folder = folder.text();
    restart();
}

void SessionHarness::restart() {
    session.reset();
    session = std::make_unique<Session>(SessionSetup{out, app, settings, "1.2.3", progress_interval_});
}

std::vector<std::string> SessionHarness::exchange(const std::vector<std::string>& lines) {
    for (const std::string& line : lines) session->receive(line);
    session->finish();
    return out.lines();
}

JsonValue SessionHarness::call(const std::string& tool, const JsonValue& arguments) {
    int id = ++last_id_;
    session->receive(call_line(id, tool, arguments));
    std::string line = out.wait_for("\"id\":" + std::to_string(id) + ",");
    JsonValue reply = JsonValue::parse(line);
    if (!reply.contains("result")) throw std::runtime_error("not a result: " + line);
    return reply["result"];
}

std::string call_line(int id, const std::string& tool, const JsonValue& arguments) {
    JsonValue message = {{"jsonrpc", "2.0"},
                         {"id", id},
                         {"method", "tools/call"},
                         {"params", {{"name", tool}, {"arguments", arguments}}}};
    return message.dump();
}

std::string first_text(const JsonValue& result) {
    return result["content"][0]["text"].get<std::string>();
}
