#pragma once
// The app's routes under /api and the lanes they run on: cheap answers
// (health, devices, sources, the controls list) on threads of their own that
// never wait behind pictures; pictures, focus sweeps and setting controls,
// a few at a time at a lower processor priority with a short queue; a
// recording on a lane of its own. Every request passes the access guard
// before anything else happens.
#include "app_state.h"
#include "http/http_server.h"

// The server settings for the app: its lanes, its router, its refusal log.
ServerSettings app_server_settings(AppState& state, const ServerLimits& limits);
