#pragma once
// What the tools need of the companion app: one call per endpoint, each
// giving the app's answer or the failure whose message vistrel prints for it
// (after "error: "). Implementations are called from several threads at once.
#include <cstdint>
#include <optional>
#include <string>

#include "client/json.h"
#include "client/result.h"

// Width and height as asked; either may be left to the app.
struct FrameSizeRequest {
    std::optional<std::int64_t> width;
    std::optional<std::int64_t> height;
};

// JSON answers are the parsed body (null when it is not JSON); the others
// are the body's bytes as the app sent them.
class AppApi {
public:
    virtual ~AppApi() = default;
    virtual Result<JsonValue> health() = 0;
    // One JPEG of a camera (the app's choice when `device` is absent).
    virtual Result<std::string> frame(const std::optional<std::string>& device, const FrameSizeRequest& size) = 0;
    // One JPEG of the whole screen.
    virtual Result<std::string> screenshot(const FrameSizeRequest& size) = 0;
    virtual Result<JsonValue> focus(const std::optional<std::string>& device) = 0;
    // Blocks for the whole recording; the body is the finished file.
    virtual Result<std::string> record(std::uint32_t secs, const std::string& format) = 0;
    virtual Result<JsonValue> devices() = 0;
    virtual Result<JsonValue> controls(const std::optional<std::string>& device) = 0;
    virtual Result<JsonValue> set_control(const std::optional<std::string>& device, const std::string& name,
                                          std::int64_t value) = 0;
    virtual Result<JsonValue> sources() = 0;
    virtual Result<JsonValue> add_source(const std::string& name, const std::string& url) = 0;
    virtual Result<JsonValue> forget_source(const std::string& name) = 0;
};
