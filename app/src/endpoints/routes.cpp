#include "endpoints/routes.h"

#include "endpoints/endpoints.h"
#include "endpoints/fault_reply.h"
#include "endpoints/json_body.h"
#include "http/access_guard.h"

#include <cstdio>
#include <string_view>

namespace {
enum Lane : std::size_t { quick, heavy, recording };

struct Route {
    std::string_view method;
    std::string_view path;
    Lane lane;
    Reply (*answer)(AppState& state, const HttpRequest& request);
};

const Route routes[] = {
    {"GET", "/api/health", quick, [](AppState& state, const HttpRequest&) { return json_reply(health_reply(state)); }},
    {"GET", "/api/devices", quick,
     [](AppState& state, const HttpRequest&) { return json_reply(devices_reply(state)); }},
    {"GET", "/api/frame.jpg", heavy,
     [](AppState& state, const HttpRequest& request) { return frame_reply(state, request); }},
    {"GET", "/api/windows", heavy,
     [](AppState& state, const HttpRequest&) { return json_reply(windows_reply(state)); }},
    {"POST", "/api/focus", heavy,
     [](AppState& state, const HttpRequest& request) {
         return json_reply(focus_reply(state, parse_json_object(request.body)));
     }},
    {"POST", "/api/screen/record", recording,
     [](AppState& state, const HttpRequest& request) {
         RecordingRequest asked = parse_recording_request(parse_json_object(request.body));
         Recording done = record_reply(state, asked, request.cancelled);
         Reply reply = bytes_reply(std::move(done.bytes), done.content_type);
         if (!done.preview.empty()) reply.headers.push_back({"X-Vistrel-Preview", state.previews.keep(done.preview)});
         return reply;
     }},
    {"POST", "/api/screen/record/stop", quick,
     [](AppState& state, const HttpRequest&) { return json_reply(stop_recording_reply(state)); }},
    {"GET", "/api/screen/preview", quick,
     [](AppState& state, const HttpRequest& request) {
         return bytes_reply(preview_reply(state, query_value(request, "id")), "image/jpeg");
     }},
    {"GET", "/api/controls", quick,
     [](AppState& state, const HttpRequest& request) {
         return json_reply(controls_reply(state, query_value(request, "device")));
     }},
    {"POST", "/api/controls", heavy,
     [](AppState& state, const HttpRequest& request) {
         return json_reply(set_control_reply(state, parse_json_object(request.body)));
     }},
    {"GET", "/api/sources", quick,
     [](AppState& state, const HttpRequest&) { return json_reply(sources_reply(state)); }},
    {"POST", "/api/sources", quick,
     [](AppState& state, const HttpRequest& request) {
         return json_reply(add_source_reply(state, parse_json_object(request.body)));
     }},
    {"POST", "/api/sources/remove", quick,
     [](AppState& state, const HttpRequest& request) {
         return json_reply(remove_source_reply(state, parse_json_object(request.body)));
     }},
};

Routing route(AppState& state, const HttpRequest& request) {
    if (auto problem = access_problem(request, state.port)) return {error_reply(403, *problem), 0, {}};
    for (const auto& r : routes) {
        if (r.method == request.method && r.path == request.path) {
            auto answer = r.answer;
            return {std::nullopt, r.lane, [&state, answer](const HttpRequest& request) {
                        try {
                            return answer(state, request);
                        } catch (const Fault& fault) {
                            return fault_reply(fault);
                        }
                    }};
        }
    }
    return {error_reply(404, "no such endpoint: " + request.method + " " + request.path), 0, {}};
}
}  // namespace

ServerSettings app_server_settings(AppState& state, const ServerLimits& limits) {
    ServerSettings settings;
    settings.limits = limits;
    const char* busy = "vistrel-app is busy; try again shortly";
    settings.lanes = {
        // Cheap answers: a few threads, so that one that waits for a camera's
        // lock does not hold up the rest.
        {"quick", 4, 256, 0, false, busy},
        // Pictures: as many at once as there are cores on a small machine,
        // at a lower priority, and a short queue; past that, 503 at once.
        {"heavy", 2, 16, 5, true,
         "vistrel-app is busy with other pictures (2 at a time, 16 waiting); try again shortly"},
        // One recording at a time; the second thread answers 409 to another.
        {"recording", 2, 0, 0, true, busy},
    };
    settings.router = [&state](const HttpRequest& request) { return route(state, request); };
    // Refusals only: agents make thousands of ordinary requests.
    settings.log = [](const std::string& method, const std::string& path, const Reply& reply) {
        std::fprintf(stderr, "vistrel-app: %s %s -> %d %s\n", method.c_str(), path.c_str(), reply.status,
                     error_text(reply).c_str());
    };
    return settings;
}
