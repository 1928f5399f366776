#pragma once
// Screen recordings made inside the app, where no ffmpeg is at hand
// (Windows): the files the Linux recorder makes, from the screen backend's
// pictures. The whole screen is grabbed by the clock, 25 frames a second
// (recording/frame_pacer.h: a frame not grabbed in time is stood in for by
// the one before, so that a recording of N seconds holds 25 x N frames),
// and the frames wait in a bounded queue (recording/frame_queue.h) for an
// encoder thread: VP8 in WebM (webm_writer.h), H.264 in MP4
// (mp4_writer_mf.h). A preview's contact sheet is made from the frames as
// they are encoded (recording/preview_frames.h).
#include "recording/recording.h"
#include "screen/screen_backend.h"

#include <memory>

struct WindowsRecorderSettings {
    // Frames waiting for the encoder at most; 0: as many as fit 128 MiB,
    // from 3 to 25 (one second).
    int max_queued_frames = 0;
};

class WindowsRecorder : public ScreenRecorder {
public:
    // The app is stopping: the recording that runs now ends at once, its
    // client told "the recording was cut short: vistrel-app is stopping",
    // and no other starts. From any thread.
    virtual void app_stopping() = 0;
};

// Records `screen`, which outlives it.
std::unique_ptr<WindowsRecorder> make_windows_recorder(ScreenBackend& screen, WindowsRecorderSettings settings = {});

// How many frames may wait for the encoder, for frames of `width` x `height`.
int queued_frames_limit(const WindowsRecorderSettings& settings, int width, int height);
