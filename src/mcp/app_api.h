#pragma once
// What the tools need of the companion app: one call per endpoint, each
// giving the app's answer or the failure message vistrel prints for it
// (after "error: "). Implementations are called from several threads at once.
#include <cstdint>
#include <optional>
#include <string>

#include "cli/json.h"
#include "client/http.h"

// A JSON answer: the parsed body (null when it is not JSON), or a failure.
struct JsonAnswer {
    JsonValue value;
    std::optional<std::string> failure;
};

// A file answer: the body bytes as the app sent them, or a failure.
struct BytesAnswer {
    BodyBytes bytes;
    std::optional<std::string> failure;
};

// Width and height as asked; either may be left to the app.
struct FrameSizeRequest {
    std::optional<std::int64_t> width;
    std::optional<std::int64_t> height;
};

class AppApi {
public:
    virtual ~AppApi() = default;
    virtual JsonAnswer health() = 0;
    // One JPEG of a camera (the app's choice when `device` is absent).
    virtual BytesAnswer frame(const std::optional<std::string>& device, const FrameSizeRequest& size) = 0;
    // One JPEG of the whole screen.
    virtual BytesAnswer screenshot(const FrameSizeRequest& size) = 0;
    virtual JsonAnswer focus(const std::optional<std::string>& device) = 0;
    // Blocks for the whole recording; the body is the finished file.
    virtual BytesAnswer record(std::uint32_t secs, const std::string& format) = 0;
    virtual JsonAnswer devices() = 0;
    virtual JsonAnswer controls(const std::optional<std::string>& device) = 0;
    virtual JsonAnswer set_control(const std::optional<std::string>& device, const std::string& name,
                                   std::int64_t value) = 0;
    virtual JsonAnswer sources() = 0;
    virtual JsonAnswer add_source(const std::string& name, const std::string& url) = 0;
    virtual JsonAnswer forget_source(const std::string& name) = 0;
};
