#pragma once
// One camera streaming through Media Foundation's Source Reader, in its
// asynchronous mode: the reader hands each frame to a callback on one of
// Media Foundation's threads, which copies it into a queue of the newest
// few and asks for the next at once, so that a frame can be waited for with
// a deadline (a blocking ReadSample cannot be given one). Windows only.
#include "cameras/capture_device.h"
#include "cameras/media_foundation/mf_library.h"

#include <memory>

class MfStream {
public:
    // Streams `source` in the native media type of `mode`'s format and size
    // with the fastest rate. Throws CaptureError (unsupported when the
    // camera offers no such type).
    MfStream(const MfLibrary& library, IMFMediaSource* source, const CaptureMode& mode);
    ~MfStream();
    MfStream(const MfStream&) = delete;
    MfStream& operator=(const MfStream&) = delete;

    const CaptureMode& mode() const { return mode_; }

    // The oldest frame waiting, or the next to come before `deadline`.
    CapturedFrame next(SteadyTime deadline);

private:
    // Stops the reader and lets it go; never throws.
    void shut();

    struct State;
    class Callback;
    std::shared_ptr<State> state_;
    CaptureMode mode_;
};

// The frames kept for a reader that falls behind; older ones are dropped.
inline constexpr std::size_t mf_frames_kept = 4;
