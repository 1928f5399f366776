#include "http/endpoints.h"
#include "http/json_body.h"
#include "http/replies.h"
#include "recording/recorder.h"
#include "refusal.h"

void add_record_endpoint(httplib::Server& server, AppState& state) {
    server.Post("/api/screen/record", guarded([&state](const httplib::Request& req, httplib::Response& res) {
                    RecordingRequest request = parse_recording_request(parse_json_object(req.body));
                    std::unique_lock lock(state.recording_mutex, std::try_to_lock);
                    if (!lock.owns_lock())
                        throw Refusal{409, "a screen recording is already running; try again when it has finished"};
                    struct RecordingFlag {
                        std::atomic<bool>& flag;
                        explicit RecordingFlag(std::atomic<bool>& f) : flag(f) { flag = true; }
                        ~RecordingFlag() { flag = false; }
                    } flag(state.recording);
                    Recording recording = record_screen(request);
                    reply_bytes(res, std::move(recording.bytes), recording.content_type);
                }));
}
