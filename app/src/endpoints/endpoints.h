#pragma once
// What each route under /api answers, as plain functions of the parsed
// request that return the reply's content or throw a Fault. routes.cpp binds
// them to paths and turns faults into refusals.
#include "app_state.h"
#include "cancellation.h"
#include "imaging/frame_size.h"
#include "recording/recording.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <string>
#include <string_view>

// GET /health, GET /devices.
nlohmann::json health_reply(AppState& state);
nlohmann::json devices_reply(AppState& state);
// GET /frame.jpg: the JPEG bytes. `device` empty: the default camera.
std::string frame_reply(AppState& state, std::string_view device, const SizeRequest& size,
                        const CancelCheck& cancelled);
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
// GET /sources, POST /sources, POST /sources/remove. A change waits for the
// sources lock until the store's lock_wait after `arrived` at most.
nlohmann::json sources_reply(AppState& state);
nlohmann::json add_source_reply(AppState& state, const nlohmann::json& body,
                                std::chrono::steady_clock::time_point arrived);
nlohmann::json remove_source_reply(AppState& state, const nlohmann::json& body,
                                   std::chrono::steady_clock::time_point arrived);
