#include "session_harness.h"

#include <atomic>
#include <stdexcept>

void CollectedLines::write_line(std::string_view line) {
    std::lock_guard lock(mutex_);
    lines_.emplace_back(line);
    changed_.notify_all();
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
    for (const auto& entry : std::filesystem::directory_iterator(path)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

SessionHarness::SessionHarness(std::chrono::milliseconds progress_interval) {
    ToolSettings settings;
    settings.folder = folder.text();
    session = std::make_unique<Session>(SessionSetup{out, app, settings, "1.2.3", progress_interval});
}

std::vector<std::string> SessionHarness::exchange(const std::vector<std::string>& lines) {
    for (const std::string& line : lines) session->receive(line);
    session->finish();
    return out.lines();
}

JsonValue SessionHarness::call(const std::string& tool, const JsonValue& arguments) {
    std::vector<std::string> lines = exchange({call_line(1, tool, arguments)});
    if (lines.empty()) throw std::runtime_error("no reply");
    JsonValue reply = JsonValue::parse(lines.back());
    if (!reply.contains("result")) throw std::runtime_error("not a result: " + lines.back());
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
