#include "screen/screen_capture.h"

#include "refusal.h"
#include "screen/portal_screen.h"
#include "screen/restore_token.h"
#include "screen/screencopy.h"
#include "screen/wlroots_screen.h"
#include "screen/x11_screen.h"
#include "sources/config_dir.h"

namespace {
// A session without any display: nothing to capture.
class NoScreen : public ScreenBackend {
public:
    const char* name() const override { return nullptr; }
    std::optional<ScreenInfo> find() override { return std::nullopt; }
    std::string problem() override {
        return "no screen: neither WAYLAND_DISPLAY nor DISPLAY is set; run vistrel-app inside the desktop session";
    }
    Image capture() override { throw Refusal{503, problem()}; }
    RecordingInput start_recording(const std::filesystem::path&, int) override {
        throw Refusal{503,
                      "no screen to record: neither WAYLAND_DISPLAY nor DISPLAY is set; run vistrel-app "
                      "inside the desktop session"};
    }
};

// Chosen once before the server's threads start, read-only afterwards.
std::unique_ptr<ScreenBackend> chosen;

ScreenBackend& backend() {
    if (!chosen) chosen = std::make_unique<NoScreen>();
    return *chosen;
}
}  // namespace

void prepare_screen_capture(const SessionEnv& session, ScreenWanted wanted) {
    prepare_x11_screen();
    switch (choose_screen_kind(session, wanted, compositor_offers_screencopy)) {
        case ScreenKind::x11:
            chosen = make_x11_screen();
            break;
        case ScreenKind::wlroots:
            chosen = make_wlroots_screen();
            break;
        case ScreenKind::portal:
            chosen = make_portal_screen(session, config_folder() / restore_token_file_name);
            break;
        case ScreenKind::none:
            chosen = std::make_unique<NoScreen>();
            break;
    }
}

const char* screen_backend_name() {
    return backend().name();
}

std::optional<ScreenInfo> find_screen() {
    return backend().find();
}

std::string screen_problem() {
    return backend().problem();
}

Image capture_screen() {
    return backend().capture();
}

RecordingInput start_screen_recording(const std::filesystem::path& scratch, int fps) {
    return backend().start_recording(scratch, fps);
}
