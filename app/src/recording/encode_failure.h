#pragma once
// Why an in-process encoder could not make a recording, in the recorder's
// own terms; the HTTP layer chooses the status.
#include <string>

struct EncodeFailure {
    enum class Kind {
        unsupported,  // this machine lacks the encoder (no H.264 encoder on this Windows)
        failed,       // the encoder or the muxer failed, or was handed frames it cannot take
    };
    Kind kind = Kind::failed;
    std::string message;
};
