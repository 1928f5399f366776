#pragma once
// A stand-in for the app behind the tools' interface: scripted answers per
// endpoint and a log of every call, with a gate that holds a recording until
// a test lets it finish.
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "mcp/app_api.h"

// Bytes that declare a JPEG of the given size, padded to `bytes` in all.
std::string fake_jpeg(int width, int height, std::size_t bytes = 1000);

class FakeAppApi : public AppApi {
public:
    // JSON answers by endpoint: "health", "focus", "devices", "controls",
    // "set_control", "sources", "add_source", "forget_source"; an empty
    // object for an endpoint not given.
    std::map<std::string, std::optional<Result<JsonValue>>> json;
    // Pictures: the answer for a request of that size; by default a JPEG of
    // the asked size (or 1280x720).
    std::function<Result<std::string>(const FrameSizeRequest&)> picture;
    Result<std::string> recording = std::string("video bytes");

    // While closed, record() waits.
    void close_gate();
    void open_gate();
    // Waits until a recording has started.
    void wait_for_recording();

    std::vector<std::string> calls() const;

    Result<JsonValue> health() override;
    Result<std::string> frame(const std::optional<std::string>& device, const FrameSizeRequest& size) override;
    Result<std::string> screenshot(const FrameSizeRequest& size) override;
    Result<JsonValue> focus(const std::optional<std::string>& device) override;
    Result<std::string> record(std::uint32_t secs, const std::string& format) override;
    Result<JsonValue> devices() override;
    Result<JsonValue> controls(const std::optional<std::string>& device) override;
    Result<JsonValue> set_control(const std::optional<std::string>& device, const std::string& name,
                                  std::int64_t value) override;
    Result<JsonValue> sources() override;
    Result<JsonValue> add_source(const std::string& name, const std::string& url) override;
    Result<JsonValue> forget_source(const std::string& name) override;

private:
    Result<JsonValue> json_answer(const std::string& endpoint, const std::string& call);
    Result<std::string> picture_answer(const std::string& call, const FrameSizeRequest& size);
    void log(const std::string& call);

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> calls_;
    bool gate_open_ = true;
    bool recording_ = false;
};
