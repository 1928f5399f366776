#include "screen/screen_capture.h"

#include "fault.h"
#include "platform/files.h"
#include "screen/portal_screen.h"
#include "screen/restore_token.h"
#include "screen/screencopy.h"
#include "screen/wlroots_screen.h"
#include "screen/x11_screen.h"

namespace {
// A session without any display: nothing to capture.
class NoScreen : public ScreenBackend {
public:
    const char* name() const override { return nullptr; }
    ScreenState state() override { return {std::nullopt, problem()}; }
    std::vector<WindowInfo> windows() override { throw Fault{FaultKind::unavailable, problem()}; }
    void capture(const ScreenRequest&, const ScreenShotUse&) override {
        throw Fault{FaultKind::unavailable, problem()};
    }
    RecordingInput start_recording(const std::filesystem::path&, int) override {
        throw Fault{FaultKind::unavailable,
                    "no screen to record: neither WAYLAND_DISPLAY nor DISPLAY is set; run vistrel-app "
                    "inside the desktop session"};
    }

private:
    static std::string problem() {
        return "no screen: neither WAYLAND_DISPLAY nor DISPLAY is set; run vistrel-app inside the desktop session";
    }
};
}  // namespace

std::unique_ptr<ScreenBackend> choose_screen_backend(const SessionEnv& session, ScreenWanted wanted) {
    switch (choose_screen_kind(session, wanted, compositor_offers_screencopy)) {
        case ScreenKind::x11:
            return make_x11_screen();
        case ScreenKind::wlroots:
            return make_wlroots_screen();
        case ScreenKind::portal:
            return make_portal_screen(session, config_folder() / restore_token_file_name);
        case ScreenKind::none:
            break;
    }
    return std::make_unique<NoScreen>();
}
