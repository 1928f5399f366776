#pragma once
// Whether a network camera's address is the app itself. A source on the app's
// own address would fetch from itself, and a frame of "net:x" whose URL asks
// the app for "net:x" would never end. The host is read the way the fetch
// reads it (the system's resolver takes 0, 2130706433, 0x7f000001 and 127.1
// for IPv4 addresses), so that no spelling of the loopback address slips
// through.
#include "platform/app_socket.h"
#include "sources/http_url.h"

// A loopback or unspecified address (127/8, 0.0.0.0, ::1, :: and their
// IPv4-mapped and IPv4-compatible forms) with the app's port: connecting
// there reaches the app.
bool reaches_app(const NetAddress& address, int app_port);

// The URL's host, read as a numeric address, or "localhost" or a name under
// ".localhost", with the app's port. Other names are judged when the fetch
// has looked them up (reaches_app).
bool url_points_at_app(const HttpUrl& url, int app_port);
