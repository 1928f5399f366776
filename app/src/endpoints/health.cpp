#include "endpoints/endpoints.h"
#include "screen/screen_backend.h"

using nlohmann::json;

json health_reply(AppState& state) {
    // The defaults a request without --device or --size gets. Without a
    // camera there is no device to default to, but the size is the one the
    // app would ask a camera for.
    json settings = {
        {"device", nullptr}, {"width", preferred_capture_size.width}, {"height", preferred_capture_size.height}};
    json camera = nullptr;
    if (auto chosen = default_camera(state.cameras)) {
        CameraDescription about = chosen->description();
        FrameSize size = chosen->default_size();
        settings = {{"device", about.id}, {"width", size.width}, {"height", size.height}};
        camera = about.kind;
    }
    // As last seen: a display that does not answer is reported, not waited for.
    ScreenState screen_state = state.screen->state();
    const auto& screen = screen_state.screen;
    const char* backend = state.screen->name();
    json reply = {
        {"version", VISTREL_APP_VERSION},
        {"port", state.port},
        {"settings", settings},
        {"camera", camera},
        {"screen", screen ? json(screen->display) : json(nullptr)},
        {"screen_backend", backend ? json(backend) : json(nullptr)},
        {"recording", state.recording.load()},
    };
    if (!screen) reply["screen_problem"] = screen_state.problem;
    return reply;
}
