#pragma once
// VP8 video in a WebM file made in memory, by libvpx and libwebm's muxer,
// with the encoder settings of the Linux recorder's ffmpeg line: realtime
// deadline, cpu-used 8, 2 Mbit/s, 4:2:0. The rate is constant: frame i is
// shown at i / frames_per_second seconds however long it took to come, so
// that a late frame is made up for by handing the one before in again.
// Built for Windows, where no ffmpeg is at hand.
#include "recording/encode_failure.h"
#include "recording/yuv.h"

#include <memory>
#include <optional>
#include <string>
#include <variant>

inline constexpr int webm_bits_per_second = 2'000'000;

class WebmWriter {
public:
    WebmWriter();
    ~WebmWriter();
    WebmWriter(const WebmWriter&) = delete;
    WebmWriter& operator=(const WebmWriter&) = delete;

    // Starts a video of frames `width` x `height` (even sides, as yuv.h
    // makes them), `frames_per_second` a second.
    std::optional<EncodeFailure> start(int width, int height, int frames_per_second = 25);

    // Encodes the next frame, of the size started with.
    std::optional<EncodeFailure> add_frame(const I420Frame& frame);

    // Ends the video: the whole WebM file, frames() / frames_per_second
    // seconds long. The writer takes no frames after it.
    std::variant<std::string, EncodeFailure> finish();

    int frames() const;

private:
    struct State;
    std::unique_ptr<State> state_;
};
