#pragma once
// A stand-in for the app behind the tools' interface: scripted answers per
// endpoint and a log of every call, with a gate that holds a recording until
// a test lets it finish. Like the app, it hangs up when a call's exchanges
// are stopped, and it can play an app that reports sizes and regions
// (X-Vistrel-Source, X-Vistrel-Region) or an older one that does not.
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "mcp/app_api.h"
#include "mcp/image_budget.h"

// Bytes that declare a JPEG of the given size, padded to `bytes` in all.
std::string fake_jpeg(int width, int height, std::size_t bytes = 1000);

class FakeAppApi : public AppApi {
public:
    // JSON answers by endpoint: "health", "focus", "devices", "windows",
    // "controls", "set_control", "sources", "add_source", "forget_source",
    // "stop_recording"; an empty object for an endpoint not given.
    std::map<std::string, std::optional<Result<JsonValue>>> json;
    // Each device's full size ("" the default camera); 1280x720 for any other.
    std::map<std::string, PictureSize> full_sizes;
    // Whether pictures carry X-Vistrel-Source, and regions are cropped and
    // carry X-Vistrel-Region; an older app ignores regions.
    bool reports_sizes = false;
    // Pictures: the answer for a request; by default a JPEG of the asked size,
    // else of the region's or the device's.
    std::function<Result<std::string>(const PictureRequest&)> picture;
    Result<std::string> recording = std::string("video bytes");
    // When set, a finished recording names this preview sheet.
    std::optional<std::string> preview_id;
    Result<std::string> preview_sheet = std::string();

    // While closed, record() waits (until stop_recording or a stop).
    void close_gate();
    void open_gate();
    // Waits until a recording has started.
    void wait_for_recording();
    // Whether a record() is waiting at the gate.
    bool recording_now() const;

    std::vector<std::string> calls() const;

    Result<JsonValue> health(ExchangeStop& stop) override;
    Result<std::uint64_t> frame(ExchangeStop& stop, const PictureRequest& picture, BodySink& body,
                                ReplyHeaders* headers) override;
    Result<std::uint64_t> screenshot(ExchangeStop& stop, const PictureRequest& picture, BodySink& body,
                                     ReplyHeaders* headers) override;
    Result<JsonValue> focus(ExchangeStop& stop, const std::optional<std::string>& device) override;
    Result<std::uint64_t> record(ExchangeStop& stop, const RecordRequest& recording, BodySink& body,
                                 ReplyHeaders* headers) override;
    Result<JsonValue> stop_recording(ExchangeStop& stop) override;
    Result<std::uint64_t> preview(ExchangeStop& stop, const std::string& id, BodySink& body) override;
    Result<JsonValue> devices(ExchangeStop& stop) override;
    Result<JsonValue> windows(ExchangeStop& stop) override;
    Result<JsonValue> controls(ExchangeStop& stop, const std::optional<std::string>& device) override;
    Result<JsonValue> set_control(ExchangeStop& stop, const std::optional<std::string>& device, const std::string& name,
                                  std::int64_t value) override;
    Result<JsonValue> sources(ExchangeStop& stop) override;
    Result<JsonValue> add_source(ExchangeStop& stop, const std::string& name, const std::string& url) override;
    Result<JsonValue> forget_source(ExchangeStop& stop, const std::string& name) override;

private:
    Result<JsonValue> json_answer(const std::string& endpoint, const std::string& call);
    Result<std::uint64_t> picture_answer(const std::string& call, const PictureRequest& request, BodySink& body,
                                         ReplyHeaders* headers);
    void log(const std::string& call);

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> calls_;
    bool gate_open_ = true;
    bool recording_ = false;
    bool stop_asked_ = false;
};

// The failure of an exchange the fake hung up on.
inline const std::string fake_hang_up = "the exchange was stopped";
