#include "endpoints/endpoints.h"
#include "endpoints/json_body.h"
#include "fault.h"

#include <cstdio>

RecordingRequest parse_recording_request(const nlohmann::json& body) {
    RecordingRequest request;
    if (auto format = optional_string_member(body, "format")) {
        if (*format == "webm") {
            request.format = RecordingFormat::webm;
        } else if (*format == "mp4") {
            request.format = RecordingFormat::mp4;
        } else {
            throw Fault{FaultKind::bad_argument, "unknown recording format \"" + *format + "\"; use webm or mp4"};
        }
    }
    if (auto secs = optional_integer_member(body, "secs")) {
        if (*secs < 1 || *secs > max_recording_secs) {
            throw Fault{FaultKind::bad_argument, "a recording lasts from 1 to " + std::to_string(max_recording_secs) +
                                                     " seconds (got " + std::to_string(*secs) + ")"};
        }
        request.secs = static_cast<int>(*secs);
    }
    if (auto preview = optional_integer_member(body, "preview")) {
        if (*preview < 0 || *preview > max_preview_frames) {
            throw Fault{FaultKind::bad_argument, "a preview has from 0 to " + std::to_string(max_preview_frames) +
                                                     " frames (got " + std::to_string(*preview) + ")"};
        }
        request.preview = static_cast<int>(*preview);
    }
    return request;
}

Recording record_reply(AppState& state, const RecordingRequest& request, const CancelCheck& cancelled) {
    std::unique_lock lock(state.recording_mutex, std::try_to_lock);
    if (!lock.owns_lock()) {
        throw Fault{FaultKind::busy, "a screen recording is already running; try again when it has finished"};
    }
    struct RecordingFlag {
        std::atomic<bool>& flag;
        explicit RecordingFlag(std::atomic<bool>& f) : flag(f) { flag = true; }
        ~RecordingFlag() { flag = false; }
    } flag(state.recording);
    Recording recording = state.recorder->record(request, cancelled);
    if (!recording.preview_problem.empty()) {
        std::fprintf(stderr, "vistrel-app: no preview of the recording: %s\n", recording.preview_problem.c_str());
    }
    return recording;
}

nlohmann::json stop_recording_reply(AppState& state) {
    if (!state.recorder->stop_early()) throw Fault{FaultKind::not_found, "no screen recording is running"};
    return {{"stopped", true}};
}

std::string preview_reply(AppState& state, std::string_view id) {
    if (auto sheet = state.previews.find(id)) return *sheet;
    throw Fault{FaultKind::not_found,
                "no preview \"" + std::string(id) + "\": previews are kept for 10 minutes after their recording"};
}
