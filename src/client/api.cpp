#include "client/api.h"

#include "client/text.h"
#include "platform/system.h"

std::string base_url(const std::optional<std::string>& port) {
    std::optional<std::string> text = port;
    if (!text) {
        text = environment_value("VISTREL_PORT");
        if (text && !is_valid_utf8(*text)) text.reset();
    }
    return "http://127.0.0.1:" + text.value_or("7777") + "/api";
}

Result<ApiReply> api_start(const AppLink& app, std::string_view method, std::string_view path, std::string body) {
    std::string base = base_url(app.port);
    Result<IncomingReply, IoError> incoming =
        http_request(method, base + std::string(path), std::move(body), app.timeout_ms, app.stop);
    if (!incoming) return unreachable_failure(base, incoming.error(), app.port_hint);
    return ApiReply{std::move(base), std::move(incoming).value(), app.port_hint};
}

Result<std::uint64_t> api_read_body(ApiReply& reply, BodySink& sink) {
    Result<std::uint64_t, IoError> read = read_body(reply.incoming, sink);
    if (!read) return unreachable_failure(reply.base, read.error(), reply.port_hint);
    return read.value();
}

namespace {
Result<HttpReply> exchange(const AppLink& app, std::string_view method, std::string_view path, std::string body) {
    Result<ApiReply> started = api_start(app, method, path, std::move(body));
    if (!started) return started.error();
    StringSink sink;
    if (Result<std::uint64_t> read = api_read_body(started.value(), sink); !read) return read.error();
    return HttpReply{started.value().incoming.status, std::move(sink.bytes)};
}
}  // namespace

Result<HttpReply> api_get(const AppLink& app, std::string_view path) {
    return exchange(app, "GET", path, {});
}

Result<HttpReply> api_post(const AppLink& app, std::string_view path, const JsonValue& body) {
    return exchange(app, "POST", path, json_text(body));
}

Failure unreachable_failure(std::string_view base, const IoError& error, std::string_view port_hint) {
    std::string message = "cannot reach Vistrel at ";
    message += base;
    message +=
        " (" + error.text + ")\n  Is the app running? Start it from your applications menu, or: vistrel-app &\n  ";
    message += port_hint;
    return Failure{std::move(message)};
}

bool is_refusal(std::uint16_t status) {
    return status >= 400;
}

Failure refusal_failure(std::string_view body, std::string_view fallback) {
    JsonValue parsed = body_json(body);
    const JsonValue& error = json_member(parsed, "error");
    return Failure{error.is_string() ? error.get_ref<const std::string&>() : std::string(fallback)};
}

Result<JsonValue> reply_json(const HttpReply& reply, std::string_view fallback) {
    if (is_refusal(reply.status)) return refusal_failure(reply.body, fallback);
    return body_json(reply.body);
}
