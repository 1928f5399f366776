#include "client/endpoints.h"

namespace {
ApiRequest get(std::string path) {
    return ApiRequest{std::move(path), std::nullopt};
}

ApiRequest post(std::string path, JsonValue body) {
    return ApiRequest{std::move(path), std::move(body)};
}

JsonValue string_or_null(const std::optional<std::string>& text) {
    return text ? JsonValue(*text) : JsonValue(nullptr);
}
}  // namespace

std::string device_fragment(const std::optional<std::string>& device) {
    return device ? "&device=" + *device : std::string();
}

std::optional<std::string> size_fragment(std::string_view size) {
    std::size_t cut = size.find_first_of("xX");
    if (cut == std::string_view::npos) return std::nullopt;
    return "&width=" + std::string(size.substr(0, cut)) + "&height=" + std::string(size.substr(cut + 1));
}

ApiRequest health_request() {
    return get("/health");
}

ApiRequest devices_request() {
    return get("/devices");
}

ApiRequest controls_request(std::string_view device_query) {
    return get("/controls?_=" + std::string(device_query));
}

ApiRequest set_control_request(const std::optional<std::string>& device, const std::string& name, std::int64_t value) {
    JsonValue body = JsonValue::object();
    body["device"] = string_or_null(device);
    body["name"] = name;
    body["value"] = value;
    return post("/controls", std::move(body));
}

ApiRequest sources_request() {
    return get("/sources");
}

ApiRequest add_source_request(const std::string& name, const std::string& url) {
    JsonValue body = JsonValue::object();
    body["name"] = name;
    body["url"] = url;
    return post("/sources", std::move(body));
}

ApiRequest remove_source_request(const std::string& name) {
    JsonValue body = JsonValue::object();
    body["name"] = name;
    return post("/sources/remove", std::move(body));
}

ApiRequest focus_request(const std::optional<std::string>& device) {
    JsonValue body = JsonValue::object();
    body["device"] = string_or_null(device);
    return post("/focus", std::move(body));
}

ApiRequest frame_request(std::string_view device_query, std::string_view size_query) {
    ApiRequest request = get("/frame.jpg?_=" + std::string(device_query) + std::string(size_query));
    request.refusal_fallback = "could not take a photo";
    return request;
}

ApiRequest screen_request(std::string_view size_query) {
    ApiRequest request = get("/frame.jpg?device=screen" + std::string(size_query));
    request.refusal_fallback = "could not capture the screen";
    return request;
}

ApiRequest record_request(const std::optional<std::string>& format, std::optional<std::uint32_t> secs) {
    JsonValue body = JsonValue::object();
    body["format"] = string_or_null(format);
    body["secs"] = secs ? JsonValue(*secs) : JsonValue(nullptr);
    ApiRequest request = post("/screen/record", std::move(body));
    request.refusal_fallback = "could not record the screen";
    return request;
}

ApiRequest windows_request() {
    return get("/windows");
}

ApiRequest record_stop_request() {
    ApiRequest request = post("/screen/record/stop", JsonValue::object());
    request.refusal_fallback = "could not stop the recording";
    return request;
}

ApiRequest preview_request(const std::string& id) {
    ApiRequest request = get("/screen/preview?id=" + id);
    request.refusal_fallback = "could not fetch the recording's preview";
    return request;
}

Result<ApiReply> api_start(const AppLink& app, const ApiRequest& request) {
    if (request.body) return api_start(app, "POST", request.path, json_text(*request.body));
    return api_start(app, "GET", request.path, {});
}

Result<HttpReply> api_send(const AppLink& app, const ApiRequest& request) {
    return request.body ? api_post(app, request.path, *request.body) : api_get(app, request.path);
}

Result<JsonValue> api_json(const AppLink& app, const ApiRequest& request) {
    Result<HttpReply> reply = api_send(app, request);
    if (!reply) return reply.error();
    return reply_json(reply.value(), request.refusal_fallback);
}

Result<std::string> api_bytes(const AppLink& app, const ApiRequest& request) {
    StringSink body;
    if (Result<std::uint64_t> read = api_stream(app, request, body); !read) return read.error();
    return std::move(body.bytes);
}

Result<std::uint64_t> api_stream(const AppLink& app, const ApiRequest& request, BodySink& sink, ReplyHeaders* headers) {
    Result<ApiReply> started = api_start(app, request);
    if (!started) return started.error();
    ApiReply& reply = started.value();
    if (is_refusal(reply.incoming.status)) return read_refusal(reply, request);
    if (headers) *headers = reply.incoming.headers;
    return api_read_body(reply, sink);
}

Failure read_refusal(ApiReply& reply, const ApiRequest& request) {
    StringSink body;
    if (Result<std::uint64_t> read = api_read_body(reply, body); !read) return read.error();
    return refusal_failure(body.bytes, request.refusal_fallback);
}
