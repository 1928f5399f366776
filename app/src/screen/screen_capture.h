#pragma once
// The screen, device "screen". One backend is chosen when the app starts,
// from the session it runs in (see screen_choice.h): the X display, a wlroots
// compositor through wlr-screencopy, or any desktop through xdg-desktop-portal.
// Everything else asks these functions and never which backend answers.
#include "imaging/frame_size.h"
#include "imaging/image.h"
#include "screen/screen_backend.h"
#include "screen/screen_choice.h"

#include <filesystem>
#include <optional>
#include <string>

inline constexpr const char* screen_device_id = "screen";

// Called once, before any other thread starts: chooses the backend for
// `session` (or the one `wanted` names) and readies it.
void prepare_screen_capture(const SessionEnv& session, ScreenWanted wanted);

// The chosen backend's name ("x11", "wlroots", "portal"), or null when the
// session offers no screen at all.
const char* screen_backend_name();

// What the chosen backend shows, or nullopt when it cannot be used now.
std::optional<ScreenInfo> find_screen();

// Why find_screen() gives nothing: the text of the refusal.
std::string screen_problem();

// The whole screen as it is now. A Refusal when it cannot be had: 503 when
// there is no screen, 403 when the desktop refuses access, 500 otherwise.
Image capture_screen();

// Starts what a recording of `fps` frames a second needs; see RecordingInput.
// `scratch` is the recording's own folder. Refusals as for capture_screen().
RecordingInput start_screen_recording(const std::filesystem::path& scratch, int fps);
