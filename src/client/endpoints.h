#pragma once
// The app's endpoints: the request each one takes, and the ways of sending
// one. Paths are under the base address; option text travels as typed,
// without percent-encoding.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "client/api.h"

struct ApiRequest {
    std::string path;               // with its query, if any
    std::optional<JsonValue> body;  // POST with this body; GET without one
    // The message of a refusal whose body has no "error" string.
    std::string refusal_fallback = std::string(rejected_request);
};

// Query fragments, each empty or beginning with "&".
// "&device={}" with the device text verbatim; empty without a device.
std::string device_fragment(const std::optional<std::string>& device);
// "&width={}&height={}" from "WxH", split at the first "x" or "X"; absent
// when there is none.
std::optional<std::string> size_fragment(std::string_view size);

ApiRequest health_request();                                 // GET /health
ApiRequest devices_request();                                // GET /devices
ApiRequest controls_request(std::string_view device_query);  // GET /controls?_=
// POST /controls {"device","name","value"}; no device sends null.
ApiRequest set_control_request(const std::optional<std::string>& device, const std::string& name, std::int64_t value);
ApiRequest sources_request();                                                    // GET /sources
ApiRequest add_source_request(const std::string& name, const std::string& url);  // POST /sources
ApiRequest remove_source_request(const std::string& name);                       // POST /sources/remove
ApiRequest focus_request(const std::optional<std::string>& device);              // POST /focus {"device"}
// GET /frame.jpg?_= with the device and size fragments: one JPEG.
ApiRequest frame_request(std::string_view device_query, std::string_view size_query);
// GET /frame.jpg?device=screen with the size fragment: one JPEG of the screen.
ApiRequest screen_request(std::string_view size_query);
// POST /screen/record {"format","secs"}; absent ones send null. The reply
// comes when the recording is finished.
ApiRequest record_request(const std::optional<std::string>& format, std::optional<std::uint32_t> secs);

// What only vistrel-mcp asks of the app.
ApiRequest windows_request();                       // GET /windows
ApiRequest record_stop_request();                   // POST /screen/record/stop {}
ApiRequest preview_request(const std::string& id);  // GET /screen/preview?id=

// The first step of sending it: the status known, the body still to read.
Result<ApiReply> api_start(const AppLink& app, const ApiRequest& request);
// Sends the request; a reply of any status is a success here.
Result<HttpReply> api_send(const AppLink& app, const ApiRequest& request);
// The reply as JSON, or the refusal.
Result<JsonValue> api_json(const AppLink& app, const ApiRequest& request);
// The body bytes of a successful reply, in memory, or the refusal.
Result<std::string> api_bytes(const AppLink& app, const ApiRequest& request);
// The body of a successful reply handed to `sink` as it arrives, and its
// length; or the refusal, whose body the sink never sees. After a failure,
// what the sink took is not the whole body. `headers`, when given, gets the
// reply's header lines.
Result<std::uint64_t> api_stream(const AppLink& app, const ApiRequest& request, BodySink& sink,
                                 ReplyHeaders* headers = nullptr);
// Reads the body of a refused reply: the refusal's message, or the
// unreachable message when that body does not come whole.
Failure read_refusal(ApiReply& reply, const ApiRequest& request);
