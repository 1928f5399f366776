// The app's endpoints over one HTTP exchange each, with vistrel's paths,
// bodies, refusal rules and messages.
#include "mcp/http_app.h"

#include "cli/text.h"
#include "client/api.h"
#include "platform/system.h"

namespace {
std::string port_or_default(const std::optional<std::string>& port_text) {
    if (port_text) return *port_text;
    std::optional<std::string> port = environment_value("VISTREL_PORT");
    if (port && is_valid_utf8(*port)) return *port;
    return "7777";
}

std::string unreachable_message(const std::string& base, const IoError& error) {
    return "cannot reach Vistrel at " + base + " (" + error.text +
           ")\n  Is the app running? Start it from your applications menu, or: vistrel-app &"
           "\n  Different port?     vistrel --port=7999 \u2026  or set VISTREL_PORT";
}

// The app's "error" string of a refusal, else `fallback`.
std::optional<std::string> refusal(const HttpReply& reply, const std::string& fallback) {
    if (reply.status < 400) return std::nullopt;
    JsonValue parsed = body_json(body_text(reply.body));
    const JsonValue& error = json_member(parsed, "error");
    return error.is_string() ? error.get<std::string>() : fallback;
}

std::string size_query(const FrameSizeRequest& size) {
    std::string query;
    if (size.width) query += "&width=" + std::to_string(*size.width);
    if (size.height) query += "&height=" + std::to_string(*size.height);
    return query;
}

JsonValue device_value(const std::optional<std::string>& device) {
    return device ? JsonValue(*device) : JsonValue(nullptr);
}

class HttpApp : public AppApi {
public:
    explicit HttpApp(std::string base) : base_(std::move(base)) {}

    JsonAnswer health() override { return json_call("GET", "/health", {}); }

    BytesAnswer frame(const std::optional<std::string>& device, const FrameSizeRequest& size) override {
        std::string path = "/frame.jpg?_=";
        if (device) path += "&device=" + *device;
        return bytes_call("GET", path + size_query(size), {}, "could not take a photo");
    }

    BytesAnswer screenshot(const FrameSizeRequest& size) override {
        return bytes_call("GET", "/frame.jpg?device=screen" + size_query(size), {}, "could not capture the screen");
    }

    JsonAnswer focus(const std::optional<std::string>& device) override {
        JsonValue body = JsonValue::object();
        body["device"] = device_value(device);
        return json_call("POST", "/focus", json_text(body));
    }

    BytesAnswer record(std::uint32_t secs, const std::string& format) override {
        JsonValue body = JsonValue::object();
        body["format"] = format;
        body["secs"] = secs;
        return bytes_call("POST", "/screen/record", json_text(body), "could not record the screen");
    }

    JsonAnswer devices() override { return json_call("GET", "/devices", {}); }

    JsonAnswer controls(const std::optional<std::string>& device) override {
        return json_call("GET", "/controls?_=" + (device ? "&device=" + *device : std::string()), {});
    }

    JsonAnswer set_control(const std::optional<std::string>& device, const std::string& name,
                           std::int64_t value) override {
        JsonValue body = JsonValue::object();
        body["device"] = device_value(device);
        body["name"] = name;
        body["value"] = value;
        return json_call("POST", "/controls", json_text(body));
    }

    JsonAnswer sources() override { return json_call("GET", "/sources", {}); }

    JsonAnswer add_source(const std::string& name, const std::string& url) override {
        JsonValue body = JsonValue::object();
        body["name"] = name;
        body["url"] = url;
        return json_call("POST", "/sources", json_text(body));
    }

    JsonAnswer forget_source(const std::string& name) override {
        JsonValue body = JsonValue::object();
        body["name"] = name;
        return json_call("POST", "/sources/remove", json_text(body));
    }

private:
    BytesAnswer bytes_call(std::string_view method, const std::string& path, std::string body,
                           const std::string& fallback) {
        ExchangeResult result = http_exchange(method, base_ + path, std::move(body));
        if (result.error) return {{}, unreachable_message(base_, *result.error)};
        if (auto refused = refusal(result.reply, fallback)) return {{}, refused};
        return {std::move(result.reply.body), std::nullopt};
    }

    JsonAnswer json_call(std::string_view method, const std::string& path, std::string body) {
        BytesAnswer answer = bytes_call(method, path, std::move(body), "the app rejected the request");
        if (answer.failure) return {nullptr, answer.failure};
        return {body_json(body_text(answer.bytes)), std::nullopt};
    }

    std::string base_;
};
}  // namespace

std::unique_ptr<AppApi> http_app(const std::optional<std::string>& port_text) {
    return std::make_unique<HttpApp>("http://127.0.0.1:" + port_or_default(port_text) + "/api");
}
