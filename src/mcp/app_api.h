#pragma once
// What the tools need of the companion app: one call per endpoint, each
// giving the app's answer or the failure whose message vistrel prints for it
// (after "error: "). Implementations are called from several threads at once.
// Every call takes the stop of the tool call it serves: stopping it (the call
// was cancelled, or the client went away) hangs up on the app at once.
#include <cstdint>
#include <optional>
#include <string>

#include "client/http.h"
#include "client/json.h"
#include "client/result.h"

// Width and height as asked; either may be left to the app.
struct FrameSizeRequest {
    std::optional<std::int64_t> width;
    std::optional<std::int64_t> height;
};

// A part of a device's picture, in the device's own pixels.
struct Region {
    std::int64_t x = 0;
    std::int64_t y = 0;
    std::int64_t width = 0;
    std::int64_t height = 0;
    bool operator==(const Region&) const = default;
};

// One picture: of `device` (the app's default camera when absent; for the
// screen "screen", a monitor "screen:N", a window "window:ID"), cropped to
// `region` when given, then scaled to `size`.
struct PictureRequest {
    std::optional<std::string> device;
    FrameSizeRequest size;
    std::optional<Region> region;
};

struct RecordRequest {
    std::uint32_t secs = 5;
    std::string format = "webm";
    std::uint32_t preview = 0;  // frames in the preview sheet; 0: none asked
};

// JSON answers are the parsed body (null when it is not JSON). Pictures and
// recordings go to `body` as they arrive, and the result is how many bytes
// came; a refusal sends nothing there. After a failure, what `body` took is
// not the whole answer and is to be thrown away. `headers`, when given, gets
// the header lines of a successful answer.
class AppApi {
public:
    virtual ~AppApi() = default;
    virtual Result<JsonValue> health(ExchangeStop& stop) = 0;
    // One JPEG of a camera (or any device named).
    virtual Result<std::uint64_t> frame(ExchangeStop& stop, const PictureRequest& picture, BodySink& body,
                                        ReplyHeaders* headers) = 0;
    // One JPEG of the screen, a monitor or a window; "screen" when no device is named.
    virtual Result<std::uint64_t> screenshot(ExchangeStop& stop, const PictureRequest& picture, BodySink& body,
                                             ReplyHeaders* headers) = 0;
    virtual Result<JsonValue> focus(ExchangeStop& stop, const std::optional<std::string>& device) = 0;
    // Blocks for the whole recording; the body is the finished file.
    virtual Result<std::uint64_t> record(ExchangeStop& stop, const RecordRequest& recording, BodySink& body,
                                         ReplyHeaders* headers) = 0;
    // Ends the running recording early; its record() then answers with what was recorded.
    virtual Result<JsonValue> stop_recording(ExchangeStop& stop) = 0;
    // The preview sheet the app made of a finished recording (X-Vistrel-Preview).
    virtual Result<std::uint64_t> preview(ExchangeStop& stop, const std::string& id, BodySink& body) = 0;
    virtual Result<JsonValue> devices(ExchangeStop& stop) = 0;
    virtual Result<JsonValue> windows(ExchangeStop& stop) = 0;
    virtual Result<JsonValue> controls(ExchangeStop& stop, const std::optional<std::string>& device) = 0;
    virtual Result<JsonValue> set_control(ExchangeStop& stop, const std::optional<std::string>& device,
                                          const std::string& name, std::int64_t value) = 0;
    virtual Result<JsonValue> sources(ExchangeStop& stop) = 0;
    virtual Result<JsonValue> add_source(ExchangeStop& stop, const std::string& name, const std::string& url) = 0;
    virtual Result<JsonValue> forget_source(ExchangeStop& stop, const std::string& name) = 0;
};
