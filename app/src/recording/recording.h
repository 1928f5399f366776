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
// A preview: at most this many frames on one contact sheet, which is at most
// 1568 pixels a side and 1.15 megapixels in all: what a model takes in at once.
inline constexpr int max_preview_frames = 36;
inline constexpr int sheet_max_side = 1568;
inline constexpr long long sheet_max_pixels = 1'150'000;

enum class RecordingFormat { webm, mp4 };

struct RecordingRequest {
    RecordingFormat format = RecordingFormat::webm;
    int secs = default_recording_secs;
    int preview = 0;  // frames on a contact sheet of the recording, 0: none
};

struct Recording {
    std::string bytes;
    const char* content_type = "";
    std::string preview = {};          // the contact sheet as a JPEG, when one was asked for and could be made
    std::string preview_problem = {};  // why none could be made, when one was asked for
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

    // Ends the recording that runs now early: record() then returns what
    // was recorded so far, a shorter but complete file. False when none
    // runs. From any thread.
    virtual bool stop_early() = 0;
};
