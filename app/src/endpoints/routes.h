#pragma once
// The app's routes under /api and the lanes they run on: health, devices
// and the sources list on threads of their own that never wait on anything;
// a camera's controls list, and changes to the sources (which wait for
// their file lock), on lanes of their own; camera pictures, focus sweeps and
// setting controls, and screen pictures apart from them, a few at a time at
// a lower processor priority with a short queue; a recording on a lane of
// its own. HEAD is served for every GET. Every request passes the access
// guard before anything else happens.
#include "app_state.h"
#include "http/http_server.h"

// The server settings for the app: its lanes, its router, its refusal log.
ServerSettings app_server_settings(AppState& state, const ServerLimits& limits);
