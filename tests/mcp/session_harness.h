#pragma once
// A session wired to a fake app, a folder of its own and a sink that keeps
// every line it is given.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "fake_app_api.h"
#include "mcp/session.h"

class CollectedLines : public LineSink {
public:
    // From the moment it is set, every write fails, as when the client is gone.
    std::atomic<bool> refuse{false};
    bool write_line(std::string_view line) override;
    std::vector<std::string> lines() const;
    // Waits (a bounded time) until `count` lines hold `text`; returns the last.
    std::string wait_for(const std::string& text, std::size_t count = 1) const;

private:
    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    std::vector<std::string> lines_;
};

struct TempFolder {
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    std::filesystem::path path;
    std::string text() const;  // UTF-8
    std::vector<std::string> names() const;
};

struct SessionHarness {
    explicit SessionHarness(std::chrono::milliseconds progress_interval = std::chrono::milliseconds(20));
    // Feeds the lines, then ends the input (which stops what still runs),
    // and gives the lines written.
    std::vector<std::string> exchange(const std::vector<std::string>& lines);
    // One tools/call, with an id of its own; its reply's result, once it has come.
    JsonValue call(const std::string& tool, const JsonValue& arguments = JsonValue::object());
    // The settings the session was made with; restart() makes it anew with them.
    ToolSettings settings;
    void restart();

    FakeAppApi app;
    CollectedLines out;
    TempFolder folder;
    std::unique_ptr<Session> session;

private:
    std::chrono::milliseconds progress_interval_;
    int last_id_ = 1000;
};

std::string call_line(int id, const std::string& tool, const JsonValue& arguments = JsonValue::object());
// The text of the result's first content item.
std::string first_text(const JsonValue& result);
