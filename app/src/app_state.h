#pragma once
// Everything the request handlers share. Each part guards itself: every
// camera and the sources with their own locks, the screen and recordings
// with the locks below. A recording holds only its own lock, so the rest of
// the app keeps answering while it runs.
#include "cameras/camera_registry.h"
#include "recording/preview_sheets.h"
#include "recording/recording.h"
#include "screen/screen_backend.h"
#include "sources/net_source.h"
#include "sources/sources_store.h"

#include <atomic>
#include <memory>
#include <mutex>

struct AppState {
    int port = 0;  // the port the app listens on, once bound
    CameraRegistry cameras;
    std::unique_ptr<ScreenBackend> screen;     // chosen at start, never null
    std::unique_ptr<ScreenRecorder> recorder;  // records `screen`, never null
    PreviewSheets previews;                    // of recent recordings
    SourcesStore sources;
    NetFetchSettings net_fetch;  // limits of a network camera's fetch
    std::mutex screen_mutex;     // one capture of the X display at a time
    std::mutex recording_mutex;  // one recording at a time
    std::atomic<bool> recording{false};
};
