#pragma once
// Screen recordings as the endpoints see them, whatever makes them: ffmpeg
// on Linux (recorder.h), an encoder inside the app on Windows.
#include "cancellation.h"

#include <string>

inline constexpr int default_recording_secs = 5;
inline constexpr int max_recording_secs = 120;
// Every recording runs at this constant rate; a frame that comes late is
// stood in for by the one before.
inline constexpr int recording_frames_per_second = 25;

enum class RecordingFormat { webm, mp4 };

struct RecordingRequest {
    RecordingFormat format = RecordingFormat::webm;
    int secs = default_recording_secs;
};

struct Recording {
    std::string bytes;
    const char* content_type = "";
};

class ScreenRecorder {
public:
    virtual ~ScreenRecorder() = default;
    // Records for the requested time and returns the finished file. Faults:
    // those of the screen (unavailable without one, denied when the desktop
    // refuses), unsupported for a format this platform cannot write, failed
    // when the encoder fails, unavailable when the app is stopping.
    // Cancelled when `cancelled` turns true first. One call at a time.
    virtual Recording record(const RecordingRequest& request, const CancelCheck& cancelled) = 0;
};
