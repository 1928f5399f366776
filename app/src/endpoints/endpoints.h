#pragma once
// What each route under /api answers, as plain functions of the parsed
// request that return the reply's content or throw a Fault. routes.cpp binds
// them to paths and turns faults into refusals.
#include "app_state.h"
#include "cancellation.h"
#include "http/http_request.h"
#include "http/reply.h"
#include "imaging/frame_size.h"
#include "recording/recording.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <string>
#include <string_view>

// GET /health, GET /devices.
nlohmann::json health_reply(AppState& state);
nlohmann::json devices_reply(AppState& state);
// GET /frame.jpg?device=&width=&height=&x=&y=&w=&h=: the JPEG of the device
// (none: the default camera), cut to the region x, y, w, h of its own pixels
// and scaled to width x height; the headers X-Vistrel-Source (the device's
// full size) and X-Vistrel-Region (the part shown, after clipping) say what
// the picture is of.
Reply frame_reply(AppState& state, const HttpRequest& request);
// GET /windows: the top-level windows on the screen.
nlohmann::json windows_reply(AppState& state);
// POST /focus with the request body's object.
nlohmann::json focus_reply(AppState& state, const nlohmann::json& body);
// GET /controls, POST /controls.
nlohmann::json controls_reply(AppState& state, std::string_view device);
nlohmann::json set_control_reply(AppState& state, const nlohmann::json& body);
// POST /screen/record: {"format": "webm" | "mp4" | null, "secs": 1..120 | null};
// anything else is refused with a message that says what is accepted.
RecordingRequest parse_recording_request(const nlohmann::json& body);
// The finished file. Busy while another one runs.
Recording record_reply(AppState& state, const RecordingRequest& request, const CancelCheck& cancelled);
// POST /screen/record/stop: ends the running recording early.
nlohmann::json stop_recording_reply(AppState& state);
// GET /screen/preview?id=ID: a recording's contact sheet, kept for a while.
std::string preview_reply(AppState& state, std::string_view id);
// GET /sources, POST /sources, POST /sources/remove. A change waits for the
// sources lock until the store's lock_wait after `arrived` at most.
nlohmann::json sources_reply(AppState& state);
nlohmann::json add_source_reply(AppState& state, const nlohmann::json& body,
                                std::chrono::steady_clock::time_point arrived);
nlohmann::json remove_source_reply(AppState& state, const nlohmann::json& body,
                                   std::chrono::steady_clock::time_point arrived);
