#include "screen/portal_screen.h"

#include "fault.h"
#include "imaging/jpeg.h"
#include "imaging/png.h"
#include "screen/frame_feed.h"
#include "screen/pipewire_stream.h"
#include "screen/portal_bus.h"
#include "screen/restore_token.h"
#include "screen/screen_state_keeper.h"
#include "screen/screen_target.h"

#include <cstring>
#include <fstream>
#include <iterator>

namespace {
constexpr const char* screenshot_interface = "org.freedesktop.portal.Screenshot";
constexpr const char* screencast_interface = "org.freedesktop.portal.ScreenCast";
constexpr std::uint32_t monitor_sources = 1;
constexpr std::uint32_t embedded_cursor = 2;
constexpr std::uint32_t persist_until_revoked = 2;

std::string portal_package(const SessionEnv& session) {
    if (desktop_is(session, "GNOME")) return "xdg-desktop-portal-gnome";
    if (desktop_is(session, "KDE")) return "xdg-desktop-portal-kde";
    // Screenshots through the portal also need a backend with the Access
    // interface, which xdg-desktop-portal-wlr lacks.
    return "the portal of your desktop (xdg-desktop-portal-wlr and xdg-desktop-portal-gtk for sway, Hyprland and "
           "river; xdg-desktop-portal-gnome; xdg-desktop-portal-kde)";
}

std::string seconds(std::chrono::milliseconds limit) {
    return std::to_string((limit.count() + 999) / 1000);
}

// What a failed portal call means for the user, and what they can do.
Fault fault_for(const PortalFailure& failure, const SessionEnv& session, const char* offer,
                std::chrono::milliseconds limit) {
    switch (failure.kind) {
        case PortalFailure::no_bus:
            return {FaultKind::unavailable,
                    "no screen: cannot reach the desktop's session bus to ask xdg-desktop-portal for the screen (" +
                        failure.detail +
                        "); run vistrel-app inside the desktop session, not over ssh or as another user"};
        case PortalFailure::no_portal:
            return {FaultKind::unavailable,
                    "no screen: this Wayland desktop offers no screen capture: xdg-desktop-portal is not "
                    "running and cannot be started; install xdg-desktop-portal and " +
                        portal_package(session)};
        case PortalFailure::no_interface:
            return {FaultKind::unavailable, std::string("no screen: the desktop portal here offers no ") + offer +
                                                "; install " + portal_package(session)};
        case PortalFailure::timed_out:
            return {FaultKind::timed_out,
                    "the desktop did not answer within " + seconds(limit) +
                        " seconds; if it shows a dialog, answer it (it may be behind other windows) and try "
                        "again"};
        case PortalFailure::failed:
            break;
    }
    return {FaultKind::failed, "the desktop portal failed: " + failure.detail};
}

std::string read_whole_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A screen cast session: the bus connection that owns it (the portal ends a
// session whose connection closes), and its PipeWire stream.
struct ScreenCast {
    BusHandle bus;
    std::string session;
    std::unique_ptr<PipeWireStream> stream;

    ~ScreenCast() {
        stream.reset();
        if (bus && !session.empty()) close_portal_session(bus.get(), session);
    }
};

class PortalScreen : public ScreenBackend {
public:
    PortalScreen(SessionEnv session, std::filesystem::path token_file, PortalLimits limits)
        : session_(std::move(session)), token_file_(std::move(token_file)), limits_(limits) {}

    const char* name() const override { return "portal"; }

    ScreenState state() override { return keeper_.current(std::chrono::seconds(2)); }

    std::vector<WindowInfo> windows() override { throw window_refusal(); }

    void capture(const ScreenRequest& request, const ScreenShotUse& use) override {
        if (request.target.kind == ScreenTarget::Kind::window) throw window_refusal();
        if (request.target.kind == ScreenTarget::Kind::monitor) {
            throw Fault{FaultKind::not_found,
                        "the desktop portal shows the screen the user picks, not monitors one "
                        "by one; use the device screen"};
        }
        Image picture = screenshot_picture(request.cancelled);
        FrameSize source{picture.width, picture.height};
        keeper_.seen({ScreenInfo{display(), {0, 0}, {}}, ""});
        // Four bytes a pixel, as every screen hands its pictures over.
        std::vector<std::uint8_t> rgbx(static_cast<std::size_t>(source.width) * source.height * 4);
        for (std::size_t i = 0, pixels = rgbx.size() / 4; i < pixels; ++i) {
            std::memcpy(&rgbx[i * 4], &picture.rgb[i * 3], 3);
        }
        PixelView whole{rgbx.data(), source.width, source.height, source.width * 4, false, rgbx_layout};
        std::optional<FrameRegion> part;
        if (request.region) part = clip_region(*request.region, source, request.device);
        use(ScreenShot{source, part, part ? crop_view(whole, *part) : whole});
    }

    RecordingInput start_recording(const std::filesystem::path& scratch, int fps) override {
        auto cast = std::make_shared<ScreenCast>();
        cast->bus = open_bus();
        sd_bus* bus = cast->bus.get();
        try {
            std::uint32_t version = portal_property(bus, screencast_interface, "version");
            std::uint32_t cursors = portal_property(bus, screencast_interface, "AvailableCursorModes");
            PortalResponse created =
                portal_request(bus, screencast_interface, "CreateSession", {},
                               {{"session_handle_token", std::string("vistrel")}}, limits_.quiet_screenshot);
            check_cast_answer(created.code);
            cast->session = created.strings["session_handle"];

            PortalOptions select = {{"types", monitor_sources}, {"multiple", false}};
            if (cursors & embedded_cursor) select.push_back({"cursor_mode", embedded_cursor});
            if (version >= 4) {
                select.push_back({"persist_mode", persist_until_revoked});
                std::string token = load_restore_token(token_file_);
                if (!token.empty()) select.push_back({"restore_token", token});
            }
            check_cast_answer(portal_request(bus, screencast_interface, "SelectSources", {{'o', cast->session}}, select,
                                             limits_.dialog)
                                  .code);
            PortalResponse started = portal_request(bus, screencast_interface, "Start",
                                                    {{'o', cast->session}, {'s', ""}}, {}, limits_.dialog);
            check_cast_answer(started.code);
            if (started.strings.count("restore_token"))
                save_restore_token(token_file_, started.strings["restore_token"]);
            if (started.streams.empty())
                throw Fault{FaultKind::failed, "the desktop agreed to share the screen but shared nothing"};
            int fd = open_pipewire_remote(bus, cast->session);
            cast->stream = std::make_unique<PipeWireStream>(fd, started.streams.front().node);
        } catch (const PortalFailure& failure) {
            throw fault_for(failure, session_, "screen casts", limits_.dialog);
        }

        std::string problem;
        RawFrame first;
        if (!cast->stream->wait_for_frame(limits_.first_frame, problem) || !cast->stream->newest(first, problem)) {
            throw Fault{FaultKind::failed, problem};
        }
        // 4:2:0 video needs even sides; a stray last row or column is left out.
        int width = first.width & ~1, height = first.height & ~1;
        std::filesystem::path pipe = scratch / "screen.raw";
        make_pipe(pipe);
        FrameSource source = [cast](RawFrame& frame, std::string& why) { return cast->stream->newest(frame, why); };
        RecordingInput input;
        input.ffmpeg_input = raw_video_input(first.layout, width, height, fps, pipe.string());
        input.feed = std::make_unique<FrameFeed>(pipe, std::move(source), width, height, fps);
        return input;
    }

private:
    static Fault window_refusal() {
        return {FaultKind::unsupported,
                "the desktop portal does not let programs list or capture single windows; capture the screen, "
                "or a region of it (x, y, w, h)"};
    }

    // Runs on the keeper's thread, over a bus connection of its own, kept
    // between looks and bounded in time.
    std::optional<ScreenState> look() {
        try {
            if (!look_bus_) look_bus_ = open_session_bus(std::chrono::seconds(1));
            if (portal_present(look_bus_.get())) return ScreenState{ScreenInfo{display(), {0, 0}, {}}, ""};
            look_bus_.reset();
            return ScreenState{std::nullopt, fault_for({PortalFailure::no_portal, ""}, session_, "", {}).message};
        } catch (const PortalFailure& failure) {
            look_bus_.reset();
            return ScreenState{std::nullopt, fault_for(failure, session_, "", {}).message};
        }
    }

    Image screenshot_picture(const CancelCheck& cancelled) {
        BusHandle bus = open_bus();
        PortalResponse shot = screenshot(bus.get(), false, limits_.quiet_screenshot, cancelled);
        // A desktop that will not take a screenshot unasked may still take one
        // with the user's consent, in its own dialog.
        if (shot.code == 2) shot = screenshot(bus.get(), true, limits_.dialog, cancelled);
        if (shot.code == 1) {
            throw Fault{FaultKind::denied,
                        "the desktop refused the screenshot: it was cancelled or denied in the desktop's "
                        "dialog; run the command again and allow it there"};
        }
        if (shot.code != 0) {
            throw Fault{FaultKind::denied,
                        "the desktop ended the screenshot request without a picture, even with its dialog; "
                        "check that its settings allow screenshots, run vistrel-app inside the desktop "
                        "session, and see the log of xdg-desktop-portal if it never asks"};
        }
        std::string uri = shot.strings["uri"];
        std::string path = path_from_file_uri(uri);
        if (path.empty())
            throw Fault{FaultKind::failed,
                        "the desktop handed over the screenshot as \"" + uri + "\", not a local file"};
        std::string bytes = read_whole_file(path);
        // The desktop saved the picture only for this request.
        std::error_code ignored;
        std::filesystem::remove(path, ignored);
        if (auto picture = decode_png(bytes)) return std::move(*picture);
        if (auto picture = decode_jpeg(bytes)) return std::move(*picture);
        throw Fault{FaultKind::failed,
                    "the desktop's screenshot " + path + " is neither PNG nor JPEG, or cannot be read"};
    }

    BusHandle open_bus() {
        try {
            return open_session_bus();
        } catch (const PortalFailure& failure) {
            throw fault_for(failure, session_, "", {});
        }
    }

    PortalResponse screenshot(sd_bus* bus, bool interactive, std::chrono::milliseconds limit,
                              const CancelCheck& cancelled) {
        try {
            return portal_request(bus, screenshot_interface, "Screenshot", {{'s', ""}},
                                  {{"interactive", interactive}, {"modal", true}}, limit, cancelled);
        } catch (const PortalFailure& failure) {
            throw fault_for(failure, session_, "screenshots", limit);
        }
    }

    static void check_cast_answer(std::uint32_t code) {
        if (code == 1) {
            throw Fault{FaultKind::denied,
                        "the desktop refused to share the screen: its dialog was cancelled or no screen was "
                        "chosen; run the command again and choose a screen to share (the choice is remembered, "
                        "so it is asked only once)"};
        }
        if (code != 0) {
            throw Fault{FaultKind::denied,
                        "the desktop ended the request to share the screen without sharing it; run "
                        "vistrel-app inside the desktop session, allow screen sharing when the desktop asks, "
                        "and see the log of xdg-desktop-portal if it never asks"};
        }
    }

    std::string display() const {
        if (!session_.wayland_display.empty()) return session_.wayland_display;
        if (!session_.x_display.empty()) return session_.x_display;
        return "desktop portal";
    }

    SessionEnv session_;
    std::filesystem::path token_file_;
    PortalLimits limits_;
    BusHandle look_bus_;  // the keeper's
    ScreenStateKeeper keeper_{[this] { return look(); },
                              [](std::chrono::milliseconds silent) {
                                  return "the desktop's session bus does not answer (nothing for " +
                                         std::to_string((silent.count() + 999) / 1000) + " s)";
                              }};
};
}  // namespace

std::unique_ptr<ScreenBackend> make_portal_screen(const SessionEnv& session, std::filesystem::path token_file,
                                                  PortalLimits limits) {
    return std::make_unique<PortalScreen>(session, std::move(token_file), limits);
}
