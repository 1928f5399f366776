#pragma once
// Everything the request handlers share. Each part guards itself: every
// camera, the screen backend and the sources with their own locks,
// recordings with the lock below. A recording holds only its own lock, so the rest of
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
    std::mutex recording_mutex;  // one recording at a time
    std::atomic<bool> recording{false};
};
