#pragma once
// Any desktop with xdg-desktop-portal (GNOME, KDE, wlroots compositors…):
// stills through its Screenshot interface, recordings through ScreenCast,
// whose PipeWire stream is fed to ffmpeg as raw video. The user's consent
// to share the screen is kept as the portal's restore token, so that it is
// asked for once.
#include "screen/screen_backend.h"
#include "screen/screen_choice.h"

#include <chrono>
#include <filesystem>
#include <memory>

struct PortalLimits {
    std::chrono::milliseconds quiet_screenshot = std::chrono::seconds(30);  // no dialog expected
    std::chrono::milliseconds dialog = std::chrono::seconds(120);           // a person has to answer
    std::chrono::milliseconds first_frame = std::chrono::seconds(10);
};

// `token_file`: where the restore token is kept.
std::unique_ptr<ScreenBackend> make_portal_screen(const SessionEnv& session, std::filesystem::path token_file,
                                                  PortalLimits limits = {});
