#pragma once
// A screen-cast stream received from PipeWire: the newest frame is kept for
// whoever asks.
#include "screen/raw_frame.h"

#include <chrono>
#include <memory>
#include <string>

struct PipeWireState;

class PipeWireStream {
public:
    // Connects through `fd` (a PipeWire connection the portal opened; the
    // stream owns it from now on) to the stream of `node`. Throws a failed
    // Fault when PipeWire will not even start.
    PipeWireStream(int fd, unsigned node);
    ~PipeWireStream();
    PipeWireStream(const PipeWireStream&) = delete;
    PipeWireStream& operator=(const PipeWireStream&) = delete;

    // Waits at most `limit` for the first frame; false with `problem` set
    // when none came.
    bool wait_for_frame(std::chrono::milliseconds limit, std::string& problem);

    // The newest frame into `frame`; false with `problem` set once the
    // stream has failed.
    bool newest(RawFrame& frame, std::string& problem);

private:
    std::unique_ptr<PipeWireState> state_;
};
