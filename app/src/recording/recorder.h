#pragma once
// Screen recordings, made by the ffmpeg program from what the screen backend
// offers (see screen/screen_capture.h).
#include "cancellation.h"
#include "process/child_process.h"
#include "screen/screen_backend.h"

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

// The ffmpeg command line that records `input` (the screen backend's input
// options) into `output`.
std::vector<std::string> ffmpeg_arguments(const RecordingRequest& request, const std::vector<std::string>& input,
                                          const std::string& output);

// Records for the requested time and returns the finished file. Faults:
// those of the screen (unavailable without one, denied when the desktop
// refuses), failed when ffmpeg is missing or fails, unavailable when the app
// is stopping. Cancelled when `cancelled` turns true first.
Recording record_screen(const RecordingRequest& request, ScreenBackend& screen, ChildSpawner& children,
                        const CancelCheck& cancelled);
