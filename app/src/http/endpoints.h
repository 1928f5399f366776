#pragma once
// The routes under /api, one function per group.
#include "app_state.h"

#include <httplib.h>

#include <string>

void add_health_endpoint(httplib::Server& server, AppState& state);
void add_devices_endpoint(httplib::Server& server, AppState& state);
void add_frame_endpoint(httplib::Server& server, AppState& state);
void add_focus_endpoint(httplib::Server& server, AppState& state);
void add_record_endpoint(httplib::Server& server, AppState& state);
void add_controls_endpoints(httplib::Server& server, AppState& state);
void add_sources_endpoints(httplib::Server& server, AppState& state);

// The "device" query parameter; empty when absent.
std::string query_device(const httplib::Request& req);
