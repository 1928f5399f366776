#include "endpoints/routes.h"

#include "endpoints/endpoints.h"
#include "endpoints/fault_reply.h"
#include "endpoints/json_body.h"
#include "http/access_guard.h"

#include <cstdio>
#include <string_view>

namespace {
enum Lane : std::size_t { status, controls, sources, pictures, screen, recording };

struct Route {
    std::string_view method;
    std::string_view path;
    Lane lane;
    Reply (*answer)(AppState& state, const HttpRequest& request);
    // When the lane depends on the request: frames of the screen and of
    // cameras run apart.
    Lane (*lane_of)(const HttpRequest& request) = nullptr;
};

// The screen, one monitor or one window: a capture that may wait on the
// desktop (a portal's dialog) for minutes, which must not hold up cameras.
Lane frame_lane(const HttpRequest& request) {
    std::string device = query_value(request, "device");
    bool screen_device = device == "screen" || device.rfind("screen:", 0) == 0 || device.rfind("window:", 0) == 0;
    return screen_device ? screen : pictures;
}

const Route routes[] = {
    {"GET", "/api/health", status, [](AppState& state, const HttpRequest&) { return json_reply(health_reply(state)); }},
    {"GET", "/api/devices", status,
     [](AppState& state, const HttpRequest&) { return json_reply(devices_reply(state)); }},
    {"GET", "/api/frame.jpg", pictures,
     [](AppState& state, const HttpRequest& request) { return frame_reply(state, request); }, frame_lane},
    {"GET", "/api/windows", screen,
     [](AppState& state, const HttpRequest&) { return json_reply(windows_reply(state)); }},
    {"POST", "/api/focus", pictures,
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
    {"POST", "/api/screen/record/stop", status,
     [](AppState& state, const HttpRequest&) { return json_reply(stop_recording_reply(state)); }},
    {"GET", "/api/screen/preview", status,
     [](AppState& state, const HttpRequest& request) {
         return bytes_reply(preview_reply(state, query_value(request, "id")), "image/jpeg");
     }},
    {"GET", "/api/controls", controls,
     [](AppState& state, const HttpRequest& request) {
         return json_reply(controls_reply(state, query_value(request, "device")));
     }},
    {"POST", "/api/controls", pictures,
     [](AppState& state, const HttpRequest& request) {
         return json_reply(set_control_reply(state, parse_json_object(request.body)));
     }},
    {"GET", "/api/sources", status,
     [](AppState& state, const HttpRequest&) { return json_reply(sources_reply(state)); }},
    {"POST", "/api/sources", sources,
     [](AppState& state, const HttpRequest& request) {
         return json_reply(add_source_reply(state, parse_json_object(request.body), request.arrived));
     }},
    {"POST", "/api/sources/remove", sources,
     [](AppState& state, const HttpRequest& request) {
         return json_reply(remove_source_reply(state, parse_json_object(request.body), request.arrived));
     }},
};

// HEAD is GET without the body (the server leaves the body out).
bool matches(const Route& route, const HttpRequest& request) {
    if (route.path != request.path) return false;
    return route.method == request.method || (request.method == "HEAD" && route.method == "GET");
}

Routing route(AppState& state, const HttpRequest& request) {
    if (auto problem = access_problem(request, state.port)) return {error_reply(403, *problem), 0, {}};
    for (const auto& r : routes) {
        if (matches(r, request)) {
            auto answer = r.answer;
            Lane lane = r.lane_of ? r.lane_of(request) : r.lane;
            return {std::nullopt, lane, [&state, answer](const HttpRequest& request) {
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
    // In the order of Lane. Nothing that can wait on a lock, a device, a
    // file lock or the desktop shares threads with health, devices and the
    // sources list.
    settings.lanes = {
        // Answers from what the app knows: a few threads, and room for every
        // connection to wait its turn.
        {"status", 4, limits.max_connections, 0, false, busy},
        // A camera's controls list, which may wait for the camera.
        {"controls", 2, 16, 0, true, busy},
        // Changes to the sources, each waiting at most until its own
        // deadline for the lock another app may hold.
        {"sources", 2, 64, 0, true, busy},
        // Camera and network camera pictures, focus sweeps and controls: as
        // many at once as there are cores on a small machine, at a lower
        // priority, and a short queue; past that, 503 at once.
        {"pictures", 2, 16, 5, true,
         "vistrel-app is busy with other pictures (2 at a time, 16 waiting); try again shortly"},
        // Screen pictures, which may wait for the desktop.
        {"screen", 2, 8, 5, true,
         "vistrel-app is busy with other screen pictures (2 at a time, 8 waiting); try again shortly"},
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
