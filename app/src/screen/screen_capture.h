#pragma once
// The screen, device "screen". One backend is chosen when the app starts,
// from the session it runs in (see screen_choice.h): the X display, a wlroots
// compositor through wlr-screencopy, or any desktop through xdg-desktop-portal.
// The app keeps it in its state; everything else asks the ScreenBackend
// interface and never which backend answers.
#include "screen/screen_backend.h"
#include "screen/screen_choice.h"
#include "screen/screen_target.h"

#include <memory>

// Called once, before any other thread starts: chooses the backend for
// `session` (or the one `wanted` names) and readies it. A session without
// any display gets a backend whose name() is null and that refuses every
// capture as unavailable.
std::unique_ptr<ScreenBackend> choose_screen_backend(const SessionEnv& session, ScreenWanted wanted);
