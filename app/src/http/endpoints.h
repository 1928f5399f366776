#pragma once
// The routes under /api, one function per group. What a route answers is
// worked out by a plain function that takes the parsed request and returns
// the reply (or throws a Refusal); the add_* functions only bind those to the
// HTTP library.
#include "app_state.h"
#include "imaging/frame_size.h"

#include <httplib.h>
#include <nlohmann/json.hpp>

#include <string>
#include <string_view>

void add_health_endpoint(httplib::Server& server, AppState& state);
void add_devices_endpoint(httplib::Server& server, AppState& state);
void add_frame_endpoint(httplib::Server& server, AppState& state);
void add_focus_endpoint(httplib::Server& server, AppState& state);
void add_record_endpoint(httplib::Server& server, AppState& state);
void add_controls_endpoints(httplib::Server& server, AppState& state);
void add_sources_endpoints(httplib::Server& server, AppState& state);

// GET /health, GET /devices.
nlohmann::json health_reply(AppState& state);
nlohmann::json devices_reply(AppState& state);
// GET /frame.jpg: the JPEG bytes. `device` empty: the default camera.
std::string frame_reply(AppState& state, std::string_view device, const SizeRequest& size);
// POST /focus with the request body's object.
nlohmann::json focus_reply(AppState& state, const nlohmann::json& body);
// GET /controls, POST /controls.
nlohmann::json controls_reply(AppState& state, std::string_view device);
nlohmann::json set_control_reply(AppState& state, const nlohmann::json& body);

// The "device" query parameter; empty when absent.
std::string query_device(const httplib::Request& req);
