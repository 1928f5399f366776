#pragma once
// Screen recordings, made by the ffmpeg program from what the screen backend
// offers (see screen/screen_capture.h).
#include "cancellation.h"
#include "screen/screen_capture.h"

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

inline constexpr int default_recording_secs = 5;
inline constexpr int max_recording_secs = 120;

enum class RecordingFormat { webm, mp4 };

struct RecordingRequest {
    RecordingFormat format = RecordingFormat::webm;
    int secs = default_recording_secs;
};

struct Recording {
    std::string bytes;
    const char* content_type = "";
};

// {"format": "webm" | "mp4" | null, "secs": 1..120 | null}; anything else is
// a Refusal (400) that says what is accepted.
RecordingRequest parse_recording_request(const nlohmann::json& body);

// The ffmpeg command line that records `input` (the screen backend's input
// options) into `output`.
std::vector<std::string> ffmpeg_arguments(const RecordingRequest& request, const std::vector<std::string>& input,
                                          const std::string& output);

// Records for the requested time and returns the finished file. Refusals:
// those of the screen (503 without one, 403 when the desktop refuses), 500
// when ffmpeg is missing or fails, 503 when the app is stopping. Cancelled
// when `cancelled` turns true first.
Recording record_screen(const RecordingRequest& request, const CancelCheck& cancelled);
