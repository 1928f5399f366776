#pragma once
// Screen recordings on Linux, made by the ffmpeg program from what the
// screen backend offers (see screen/screen_backend.h).
#include "process/child_process.h"
#include "recording/recording.h"
#include "screen/screen_backend.h"

#include <memory>
#include <string>
#include <vector>

// The ffmpeg command line that records `input` (the screen backend's input
// options) into `output`.
std::vector<std::string> ffmpeg_arguments(const RecordingRequest& request, const std::vector<std::string>& input,
                                          const std::string& output);

// Records `screen` with ffmpeg, started by `children`; both outlive it.
std::unique_ptr<ScreenRecorder> make_ffmpeg_recorder(ScreenBackend& screen, ChildSpawner& children);
