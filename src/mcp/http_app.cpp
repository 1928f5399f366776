// Each of the app's endpoints as the shared core sends it: vistrel's paths,
// bodies, refusal rules and failure messages.
#include "mcp/http_app.h"

#include "client/endpoints.h"

namespace {
// How the unreachable message tells the user to give vistrel-mcp another port.
constexpr std::string_view mcp_port_hint =
    "Different port?     give vistrel-mcp \"--port\", \"7999\" in the agent's MCP configuration, or set VISTREL_PORT";

// "&width={}&height={}", either left out when it is not given, then
// "&x={}&y={}&w={}&h={}" for a region.
std::string picture_query(const PictureRequest& picture) {
    std::string query;
    if (picture.size.width) query += "&width=" + std::to_string(*picture.size.width);
    if (picture.size.height) query += "&height=" + std::to_string(*picture.size.height);
    if (const auto& region = picture.region) {
        query += "&x=" + std::to_string(region->x) + "&y=" + std::to_string(region->y) +
                 "&w=" + std::to_string(region->width) + "&h=" + std::to_string(region->height);
    }
    return query;
}

class HttpApp : public AppApi {
public:
    explicit HttpApp(std::optional<std::string> port) : port_(std::move(port)) {}

    Result<JsonValue> health(ExchangeStop& stop) override { return api_json(link(stop), health_request()); }

    Result<std::uint64_t> frame(ExchangeStop& stop, const PictureRequest& picture, BodySink& body,
                                ReplyHeaders* headers) override {
        return api_stream(link(stop), frame_request(device_fragment(picture.device), picture_query(picture)), body,
                          headers);
    }

    Result<std::uint64_t> screenshot(ExchangeStop& stop, const PictureRequest& picture, BodySink& body,
                                     ReplyHeaders* headers) override {
        // The whole screen as vistrel asks for it; a monitor or a window by its device id.
        ApiRequest request = screen_request(picture_query(picture));
        if (picture.device && *picture.device != "screen") {
            std::string fallback = request.refusal_fallback;
            request = frame_request(device_fragment(picture.device), picture_query(picture));
            request.refusal_fallback = fallback;
        }
        return api_stream(link(stop), request, body, headers);
    }

    Result<JsonValue> focus(ExchangeStop& stop, const std::optional<std::string>& device) override {
        return api_json(link(stop), focus_request(device));
    }

    Result<std::uint64_t> record(ExchangeStop& stop, const RecordRequest& recording, BodySink& body,
                                 ReplyHeaders* headers) override {
        ApiRequest request = record_request(recording.format, recording.secs);
        // Sent only when asked, so that the request stays vistrel's otherwise.
        if (recording.preview > 0) (*request.body)["preview"] = recording.preview;
        return api_stream(link(stop), request, body, headers);
    }

    Result<JsonValue> stop_recording(ExchangeStop& stop) override {
        return api_json(link(stop), record_stop_request());
    }

    Result<std::uint64_t> preview(ExchangeStop& stop, const std::string& id, BodySink& body) override {
        return api_stream(link(stop), preview_request(id), body);
    }

    Result<JsonValue> devices(ExchangeStop& stop) override { return api_json(link(stop), devices_request()); }

    Result<JsonValue> windows(ExchangeStop& stop) override { return api_json(link(stop), windows_request()); }

    Result<JsonValue> controls(ExchangeStop& stop, const std::optional<std::string>& device) override {
        return api_json(link(stop), controls_request(device_fragment(device)));
    }

    Result<JsonValue> set_control(ExchangeStop& stop, const std::optional<std::string>& device, const std::string& name,
                                  std::int64_t value) override {
        return api_json(link(stop), set_control_request(device, name, value));
    }

    Result<JsonValue> sources(ExchangeStop& stop) override { return api_json(link(stop), sources_request()); }

    Result<JsonValue> add_source(ExchangeStop& stop, const std::string& name, const std::string& url) override {
        return api_json(link(stop), add_source_request(name, url));
    }

    Result<JsonValue> forget_source(ExchangeStop& stop, const std::string& name) override {
        return api_json(link(stop), remove_source_request(name));
    }

private:
    AppLink link(ExchangeStop& stop) const {
        AppLink link{port_};
        link.stop = &stop;
        link.port_hint = mcp_port_hint;
        return link;
    }

    const std::optional<std::string> port_;
};
}  // namespace

std::unique_ptr<AppApi> http_app(const std::optional<std::string>& port_text) {
    return std::make_unique<HttpApp>(port_text);
}
