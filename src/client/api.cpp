#include "client/api.h"

#include <optional>

#include "cli/fail.h"
#include "cli/options.h"
#include "cli/text.h"
#include "platform/system.h"

std::string base_url() {
    std::optional<std::string> port = option_value("port");
    if (!port) {
        port = environment_value("VISTREL_PORT");
        if (port && !is_valid_utf8(*port)) port.reset();
    }
    return "http://127.0.0.1:" + port.value_or("7777") + "/api";
}

static HttpReply exchange_or_fail(std::string_view method, std::string_view path, std::string body) {
    ExchangeResult result = http_exchange(method, base_url() + std::string(path), std::move(body));
    if (result.error) fail_unreachable(*result.error);
    return std::move(result.reply);
}

HttpReply api_get(std::string_view path) {
    return exchange_or_fail("GET", path, {});
}

HttpReply api_post(std::string_view path, const JsonValue& body) {
    return exchange_or_fail("POST", path, json_text(body));
}

void fail_unreachable(const IoError& error) {
    fail("cannot reach Vistrel at " + base_url() + " (" + error.text +
         ")\n  Is the app running? Start it from your applications menu, or: vistrel-app &"
         "\n  Different port?     vistrel --port=7999 \u2026  or set VISTREL_PORT");
}

void require_success(const HttpReply& reply, std::string_view fallback) {
    if (reply.status < 400) return;
    JsonValue parsed = body_json(body_text(reply.body));
    const JsonValue& error = json_member(parsed, "error");
    fail(error.is_string() ? error.get_ref<const std::string&>() : std::string(fallback));
}

JsonValue reply_json(const HttpReply& reply) {
    require_success(reply, "the app rejected the request");
    return body_json(body_text(reply.body));
}
