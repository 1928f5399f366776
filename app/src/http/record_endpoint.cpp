#include "http/endpoints.h"
#include "refusal.h"

Recording record_reply(AppState& state, const RecordingRequest& request, const CancelCheck& cancelled) {
    std::unique_lock lock(state.recording_mutex, std::try_to_lock);
    if (!lock.owns_lock()) throw Refusal{409, "a screen recording is already running; try again when it has finished"};
    struct RecordingFlag {
        std::atomic<bool>& flag;
        explicit RecordingFlag(std::atomic<bool>& f) : flag(f) { flag = true; }
        ~RecordingFlag() { flag = false; }
    } flag(state.recording);
    return record_screen(request, cancelled);
}
