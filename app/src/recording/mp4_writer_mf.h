#pragma once
// H.264 video in an MP4 file, made by Media Foundation's Sink Writer with
// Windows' own H.264 encoder (a hardware one where the machine has it),
// 'moov' before 'mdat' so that playback can start before the whole file is
// read, like ffmpeg's +faststart on Linux. The rate is constant: frame i is
// shown at i / frames_per_second seconds. Windows only.
//
// Media Foundation's libraries are loaded when a recording starts, not when
// the app does: Windows N editions come without them, and an app that
// imported them would not start there at all. Where they or the H.264
// encoder are missing (N editions without the Media Feature Pack, wine),
// start() fails with EncodeFailure::Kind::unsupported, whose message names
// the way out: --format webm.
//
// Media Foundation is a COM library: one writer is used from one thread,
// which start() joins to COM's multithreaded apartment when it is in none.
#include "recording/encode_failure.h"
#include "recording/yuv.h"

#include <memory>
#include <optional>
#include <string>
#include <variant>

class Mp4Writer {
public:
    Mp4Writer();
    ~Mp4Writer();
    Mp4Writer(const Mp4Writer&) = delete;
    Mp4Writer& operator=(const Mp4Writer&) = delete;

    // Starts a video of frames `width` x `height` (even sides),
    // `frames_per_second` a second, written to a temporary file.
    std::optional<EncodeFailure> start(int width, int height, int frames_per_second = 25);

    // Encodes the next frame, of the size started with.
    std::optional<EncodeFailure> add_frame(const Nv12Frame& frame);

    // Ends the video: the whole MP4 file (the temporary file is removed).
    // The writer takes no frames after it.
    std::variant<std::string, EncodeFailure> finish();

    int frames() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};
