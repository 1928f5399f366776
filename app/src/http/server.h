#pragma once
// The app's HTTP server: the routes, the guards in front of them and the
// library settings that every reply depends on.
#include "app_state.h"
#include "http/lenient_server.h"

// Largest request body: the app's requests are small JSON objects.
inline constexpr std::size_t max_request_body = 64 * 1024;

void configure_server(LenientServer& server, AppState& state);
