#include "recording/recorder.h"

#include "fault.h"
#include "imaging/contact_sheet.h"
#include "imaging/jpeg.h"
#include "imaging/ppm.h"
#include "platform/descriptors.h"
#include "process/child_process.h"
#include "recording/scratch_folder.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>

namespace fs = std::filesystem;

namespace {
std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::string last_line(const std::string& text) {
    std::istringstream lines(text);
    std::string line, last;
    while (std::getline(lines, line)) {
        if (!line.empty()) last = line;
    }
    return last;
}
}  // namespace

std::vector<std::string> ffmpeg_arguments(const RecordingRequest& request, const std::vector<std::string>& input,
                                          const std::string& output) {
    std::vector<std::string> args = {"ffmpeg", "-hide_banner", "-nostdin", "-loglevel", "error", "-y"};
    args.insert(args.end(), input.begin(), input.end());
    // A constant frame rate: when the machine is too busy to grab a frame in
    // time, the one before stands in for it, so that a recording of N seconds
    // holds N times the rate of frames and plays at the speed it was made.
    args.insert(args.end(), {"-t", std::to_string(request.secs), "-an", "-pix_fmt", "yuv420p", "-fps_mode", "cfr", "-r",
                             std::to_string(recording_frames_per_second)});
    if (request.format == RecordingFormat::mp4) {
        args.insert(args.end(), {"-c:v", "libx264", "-preset", "veryfast", "-movflags", "+faststart", "-f", "mp4"});
    } else {
        args.insert(args.end(),
                    {"-c:v", "libvpx", "-deadline", "realtime", "-cpu-used", "8", "-b:v", "2M", "-f", "webm"});
    }
    args.push_back(output);
    return args;
}

namespace {
// `count` frames at even times of a finished recording, as ffmpeg decodes
// them: portable pixmaps one after the other, at most sheet_max_side wide.
std::vector<TimedFrame> preview_frames(ChildSpawner& children, const fs::path& video, const fs::path& scratch,
                                       int count, double secs, const CancelCheck& cancelled) {
    fs::path frames_file = scratch / "preview.ppm";
    char rate[64];
    std::snprintf(rate, sizeof rate, "fps=fps=%d/%.3f,scale='min(iw,%d)':-2", count, std::max(secs, 0.04),
                  sheet_max_side);
    std::vector<std::string> args = {"ffmpeg",
                                     "-hide_banner",
                                     "-nostdin",
                                     "-loglevel",
                                     "error",
                                     "-y",
                                     "-i",
                                     video.string(),
                                     "-vf",
                                     rate,
                                     "-frames:v",
                                     std::to_string(count),
                                     "-f",
                                     "image2pipe",
                                     "-c:v",
                                     "ppm",
                                     frames_file.string()};
    ChildOutcome outcome = children.run(args, (scratch / "preview.log").string(), std::chrono::seconds(30), cancelled);
    if (outcome.cancelled) throw Cancelled{};
    std::vector<TimedFrame> frames;
    if (!outcome.started || outcome.exit_status != 0) return frames;
    std::string bytes = read_file(frames_file);
    std::size_t at = 0;
    while (static_cast<int>(frames.size()) < count) {
        std::optional<Image> frame = read_ppm(bytes, at);
        if (!frame) break;
        double seconds = sheet_frame_time(static_cast<int>(frames.size()), count, secs);
        frames.push_back({std::move(*frame), seconds});
    }
    return frames;
}

class FfmpegRecorder : public ScreenRecorder {
public:
    FfmpegRecorder(ScreenBackend& screen, ChildSpawner& children) : screen_(screen), children_(children) {}
    Recording record(const RecordingRequest& request, const CancelCheck& cancelled) override;

    bool stop_early() override {
        if (!running_) return false;
        stop_asked_ = true;
        return true;
    }

private:
    ScreenBackend& screen_;
    ChildSpawner& children_;
    std::atomic<bool> running_{false};
    std::atomic<bool> stop_asked_{false};
};

Recording FfmpegRecorder::record(const RecordingRequest& request, const CancelCheck& cancelled) {
    stop_asked_ = false;
    running_ = true;
    struct NotRunning {
        std::atomic<bool>& running;
        ~NotRunning() { running = false; }
    } not_running{running_};
    std::optional<ScratchFolder> scratch;
    try {
        scratch.emplace(fs::temp_directory_path());
    } catch (const std::exception& e) {
        throw Fault{out_of_descriptors() ? FaultKind::exhausted : FaultKind::failed,
                    std::string("cannot make a temporary folder for the recording: ") + e.what()};
    }
    bool mp4 = request.format == RecordingFormat::mp4;
    fs::path output = scratch->path() / (mp4 ? "screen.mp4" : "screen.webm");
    fs::path log = scratch->path() / "ffmpeg.log";
    // Ended (its feed stopped, its desktop session closed) before the scratch
    // folder goes.
    RecordingInput input = screen_.start_recording(scratch->path(), recording_frames_per_second);

    // ffmpeg stops by itself after the requested time; the limit only guards
    // against one that hangs.
    auto limit = std::chrono::seconds(request.secs + 60);
    auto started = std::chrono::steady_clock::now();
    ChildOutcome outcome = children_.run(ffmpeg_arguments(request, input.ffmpeg_input, output.string()), log.string(),
                                         limit, cancelled, [this] { return stop_asked_.load(); });
    double recorded_secs = std::min<double>(
        request.secs, std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
    std::string feed_problem = input.feed ? input.feed->finish() : "";
    // ffmpeg asked to finish early closes the file and ends with status 255;
    // the feed then finds no reader.
    if (outcome.asked_to_finish && outcome.exit_status >= 0) {
        outcome.exit_status = 0;
        feed_problem.clear();
    }
    if (outcome.interrupted)
        throw Fault{FaultKind::unavailable, "the recording was cut short: vistrel-app is stopping"};
    if (outcome.cancelled) throw Cancelled{};
    if (!outcome.started) {
        // Installing ffmpeg is no help to an app that has run out of
        // descriptors.
        if (out_of_descriptors()) {
            throw Fault{FaultKind::exhausted, "cannot run ffmpeg (" + outcome.start_error +
                                                  "): vistrel-app is out of file descriptors; try again shortly"};
        }
        throw Fault{FaultKind::failed,
                    "cannot run ffmpeg (" + outcome.start_error + "); install it, e.g. apt-get install ffmpeg"};
    }
    if (outcome.timed_out) throw Fault{FaultKind::failed, "ffmpeg did not finish the recording in time"};
    if (outcome.exit_status != 0) {
        std::string reason = last_line(read_file(log));
        throw Fault{FaultKind::failed,
                    "ffmpeg could not record the screen" + (reason.empty() ? std::string() : ": " + reason)};
    }
    if (!feed_problem.empty()) throw Fault{FaultKind::failed, "the recording failed: " + feed_problem};
    Recording recording{read_file(output), mp4 ? "video/mp4" : "video/webm"};
    if (recording.bytes.empty()) throw Fault{FaultKind::failed, "ffmpeg finished without writing a recording"};
    if (!outcome.asked_to_finish) recorded_secs = request.secs;
    if (request.preview > 0) {
        std::vector<TimedFrame> frames =
            preview_frames(children_, output, scratch->path(), request.preview, recorded_secs, cancelled);
        if (frames.empty()) {
            recording.preview_problem = "ffmpeg could not take frames out of the recording";
        } else {
            recording.preview = encode_jpeg(contact_sheet(frames, {sheet_max_side, sheet_max_pixels}));
        }
    }
    return recording;
}
}  // namespace

std::unique_ptr<ScreenRecorder> make_ffmpeg_recorder(ScreenBackend& screen, ChildSpawner& children) {
    return std::make_unique<FfmpegRecorder>(screen, children);
}
