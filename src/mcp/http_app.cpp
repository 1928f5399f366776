// Each of the app's endpoints as the shared core sends it: vistrel's paths,
// bodies, refusal rules and failure messages.
#include "mcp/http_app.h"

#include "client/endpoints.h"

namespace {
// "&width={}&height={}", either left out when it is not given.
std::string size_query(const FrameSizeRequest& size) {
    std::string query;
    if (size.width) query += "&width=" + std::to_string(*size.width);
    if (size.height) query += "&height=" + std::to_string(*size.height);
    return query;
}

class HttpApp : public AppApi {
public:
    explicit HttpApp(AppLink link) : link_(std::move(link)) {}

    Result<JsonValue> health() override { return api_json(link_, health_request()); }

    Result<std::string> frame(const std::optional<std::string>& device, const FrameSizeRequest& size) override {
        return api_bytes(link_, frame_request(device_fragment(device), size_query(size)));
    }

    Result<std::string> screenshot(const FrameSizeRequest& size) override {
        return api_bytes(link_, screen_request(size_query(size)));
    }

    Result<JsonValue> focus(const std::optional<std::string>& device) override {
        return api_json(link_, focus_request(device));
    }

    Result<std::string> record(std::uint32_t secs, const std::string& format) override {
        return api_bytes(link_, record_request(format, secs));
    }

    Result<JsonValue> devices() override { return api_json(link_, devices_request()); }

    Result<JsonValue> controls(const std::optional<std::string>& device) override {
        return api_json(link_, controls_request(device_fragment(device)));
    }

    Result<JsonValue> set_control(const std::optional<std::string>& device, const std::string& name,
                                  std::int64_t value) override {
        return api_json(link_, set_control_request(device, name, value));
    }

    Result<JsonValue> sources() override { return api_json(link_, sources_request()); }

    Result<JsonValue> add_source(const std::string& name, const std::string& url) override {
        return api_json(link_, add_source_request(name, url));
    }

    Result<JsonValue> forget_source(const std::string& name) override {
        return api_json(link_, remove_source_request(name));
    }

private:
    const AppLink link_;
};
}  // namespace

std::unique_ptr<AppApi> http_app(const std::optional<std::string>& port_text) {
    return std::make_unique<HttpApp>(AppLink{port_text});
}
