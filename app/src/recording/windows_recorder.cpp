#include "recording/windows_recorder.h"

#include "fault.h"
#include "imaging/contact_sheet.h"
#include "imaging/jpeg.h"
#include "imaging/scale.h"
#include "recording/frame_pacer.h"
#include "recording/frame_queue.h"
#include "recording/mp4_writer_mf.h"
#include "recording/preview_frames.h"
#include "recording/webm_writer.h"
#include "recording/yuv.h"
#include "screen/screen_target.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <future>
#include <mutex>
#include <thread>
#include <variant>

namespace {
const char* const cut_short_text = "the recording was cut short: vistrel-app is stopping";

// One of the in-process writers, fed the queue's frames: each is converted
// once and encoded at as many ticks as it stands at.
class VideoEncoder {
public:
    virtual ~VideoEncoder() = default;
    virtual std::optional<EncodeFailure> start(int width, int height, int frames_per_second) = 0;
    virtual void convert(const BgraRows& rows) = 0;
    // Encodes the frame converted last, once more.
    virtual std::optional<EncodeFailure> add() = 0;
    virtual std::variant<std::string, EncodeFailure> finish() = 0;
};

class WebmEncoder : public VideoEncoder {
public:
    std::optional<EncodeFailure> start(int width, int height, int fps) override {
        return writer_.start(width, height, fps);
    }
    void convert(const BgraRows& rows) override { fill_i420(rows, frame_); }
    std::optional<EncodeFailure> add() override { return writer_.add_frame(frame_); }
    std::variant<std::string, EncodeFailure> finish() override { return writer_.finish(); }

private:
    WebmWriter writer_;
    I420Frame frame_;
};

class Mp4Encoder : public VideoEncoder {
public:
    std::optional<EncodeFailure> start(int width, int height, int fps) override {
        return writer_.start(width, height, fps);
    }
    void convert(const BgraRows& rows) override { fill_nv12(rows, frame_); }
    std::optional<EncodeFailure> add() override { return writer_.add_frame(frame_); }
    std::variant<std::string, EncodeFailure> finish() override { return writer_.finish(); }

private:
    Mp4Writer writer_;
    Nv12Frame frame_;
};

Fault fault_of(const EncodeFailure& failure) {
    return Fault{failure.kind == EncodeFailure::Kind::unsupported ? FaultKind::unsupported : FaultKind::failed,
                 failure.message};
}

// The encoder thread's work: the writer is made, started, fed and finished
// on that one thread (Media Foundation's writer wants one thread).
struct Encoding {
    Encoding(RecordingFormat format, FrameQueue& queue, PreviewFrames& preview)
        : format(format), queue(queue), preview(preview) {}

    RecordingFormat format;
    FrameQueue& queue;
    PreviewFrames& preview;
    std::promise<std::optional<EncodeFailure>> started;
    std::atomic<bool> failed{false};  // the clock stops grabbing
    std::atomic<bool> abandoned{false};
    std::optional<EncodeFailure> failure;             // read once the thread has ended
    std::variant<std::string, EncodeFailure> result;  // the same

    void run() {
        bool start_told = false;
        try {
            encode(start_told);
        } catch (const std::exception& e) {
            // Out of memory, most likely: the recording fails, the app goes on.
            failure = EncodeFailure{EncodeFailure::Kind::failed, std::string("the encoder failed: ") + e.what()};
            failed = true;
            if (!start_told) started.set_value(failure);
        }
    }

    void encode(bool& start_told) {
        std::unique_ptr<VideoEncoder> encoder;
        if (format == RecordingFormat::mp4) {
            encoder = std::make_unique<Mp4Encoder>();
        } else {
            encoder = std::make_unique<WebmEncoder>();
        }
        int width = queue.width(), height = queue.height();
        std::optional<EncodeFailure> problem = encoder->start(width, height, recording_frames_per_second);
        started.set_value(problem);
        start_told = true;
        if (problem) return;
        FrameSize tile = preview.tile();
        std::shared_ptr<const Image> thumbnail;
        while (std::optional<QueuedFrame> work = queue.take()) {
            PixelView view{work->bgrx, width, height, width * 4, false, bgrx_layout};
            if (work->fresh) {
                encoder->convert(BgraRows{work->bgrx, width, height, static_cast<std::ptrdiff_t>(width) * 4});
                thumbnail.reset();
            }
            if (preview.wanted(work->first_tick, work->ticks)) {
                if (!thumbnail) thumbnail = std::make_shared<const Image>(scale_pixels(view, tile.width, tile.height));
                preview.keep(work->first_tick, work->ticks, thumbnail);
            }
            for (long long i = 0; i < work->ticks; ++i) {
                if (abandoned) return;
                if (auto fault = encoder->add()) {
                    failure = fault;
                    failed = true;
                    return;
                }
            }
        }
        if (!abandoned) result = encoder->finish();
    }
};

// The encoder thread, stopped and joined however the recording ends.
class EncoderThread {
public:
    explicit EncoderThread(Encoding& encoding) : encoding_(encoding), thread_([&encoding] { encoding.run(); }) {}
    ~EncoderThread() { abandon(); }
    EncoderThread(const EncoderThread&) = delete;
    EncoderThread& operator=(const EncoderThread&) = delete;

    // Lets the encoder finish what is queued.
    void finish() {
        encoding_.queue.close();
        if (thread_.joinable()) thread_.join();
    }
    void abandon() {
        encoding_.abandoned = true;
        encoding_.queue.abandon();
        if (thread_.joinable()) thread_.join();
    }

private:
    Encoding& encoding_;
    std::thread thread_;
};

class InProcessRecorder : public WindowsRecorder {
public:
    InProcessRecorder(ScreenBackend& screen, WindowsRecorderSettings settings) : screen_(screen), settings_(settings) {}

    Recording record(const RecordingRequest& request, const CancelCheck& cancelled) override;

    bool stop_early() override {
        std::lock_guard lock(mutex_);
        if (!running_) return false;
        stop_asked_ = true;
        wake_.notify_all();
        return true;
    }

    void app_stopping() override {
        std::lock_guard lock(mutex_);
        stopping_ = true;
        wake_.notify_all();
    }

private:
    enum class Interruption { none, stop_early, app_stopping };

    // Waits until `when`, or until the recording is ended early or the app
    // is stopping.
    Interruption wait_until(std::chrono::steady_clock::time_point when) {
        std::unique_lock lock(mutex_);
        wake_.wait_until(lock, when, [this] { return stop_asked_ || stopping_; });
        return stopping_ ? Interruption::app_stopping : stop_asked_ ? Interruption::stop_early : Interruption::none;
    }

    ScreenBackend& screen_;
    WindowsRecorderSettings settings_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool running_ = false;     // guarded by mutex_
    bool stop_asked_ = false;  // guarded by mutex_
    bool stopping_ = false;    // guarded by mutex_
};

Recording InProcessRecorder::record(const RecordingRequest& request, const CancelCheck& cancelled) {
    {
        std::lock_guard lock(mutex_);
        if (stopping_) throw Fault{FaultKind::unavailable, cut_short_text};
        running_ = true;
        stop_asked_ = false;
    }
    struct NotRunning {
        InProcessRecorder& recorder;
        ~NotRunning() {
            std::lock_guard lock(recorder.mutex_);
            recorder.running_ = false;
        }
    } not_running{*this};

    // The first frame's size is the recording's; 4:2:0 video needs even
    // sides. A screen that changes size later is cut or padded to it.
    CancelCheck gone = cancelled ? cancelled : [] { return false; };
    ScreenRequest whole{ScreenTarget{}, std::nullopt, screen_device_id, gone};
    int width = 0, height = 0;
    std::vector<std::uint8_t> first;
    screen_.capture(whole, [&](const ScreenShot& shot) {
        width = even_side(shot.pixels.width);
        height = even_side(shot.pixels.height);
        copy_bgrx(shot.pixels, width, height, first);
    });
    if (width < 2 || height < 2) {
        throw Fault{FaultKind::failed,
                    "the screen is too small to record (" + std::to_string(width) + "x" + std::to_string(height) + ")"};
    }

    const long long planned = static_cast<long long>(request.secs) * recording_frames_per_second;
    FrameQueue queue(width, height, queued_frames_limit(settings_, width, height));
    PreviewFrames preview(request.preview, planned, recording_frames_per_second, {width, height});
    Encoding encoding(request.format, queue, preview);
    std::future<std::optional<EncodeFailure>> started = encoding.started.get_future();
    EncoderThread encoder(encoding);
    // A format this machine cannot write is refused before anything is
    // recorded.
    if (std::optional<EncodeFailure> problem = started.get()) throw fault_of(*problem);

    const FramePacer pacer(recording_frames_per_second, planned);
    const auto start = std::chrono::steady_clock::now();
    queue.push(std::move(first), 0, 1);
    long long tick = 1;
    int missed_grabs = 0;
    std::string grab_problem;
    while (tick < planned) {
        Interruption interruption = wait_until(start + pacer.tick_time(tick));
        if (interruption == Interruption::app_stopping) throw Fault{FaultKind::unavailable, cut_short_text};
        if (gone()) throw Cancelled{};
        if (interruption == Interruption::stop_early || encoding.failed) break;
        // No room for another frame: the newest stands in, as for a frame
        // not grabbed in time.
        long long fallen = pacer.ticks_fallen(std::chrono::steady_clock::now() - start);
        if (queue.extend_if_full(fallen - tick)) {
            tick = fallen;
            continue;
        }
        std::vector<std::uint8_t> frame = queue.spare();
        bool grabbed = false;
        try {
            screen_.capture(whole, [&](const ScreenShot& shot) { copy_bgrx(shot.pixels, width, height, frame); });
            grabbed = true;
        } catch (const Fault& fault) {
            // The screen shown a moment ago (a secure prompt came up, the
            // display changed mode) stands in until it can be grabbed again.
            ++missed_grabs;
            grab_problem = fault.message;
        }
        long long until = pacer.stands_until(tick, std::chrono::steady_clock::now() - start);
        if (grabbed) {
            queue.push(std::move(frame), tick, until - tick);
        } else {
            queue.extend(until - tick);
        }
        tick = until;
    }
    encoder.finish();
    if (encoding.failure) throw fault_of(*encoding.failure);
    if (auto* failure = std::get_if<EncodeFailure>(&encoding.result)) throw fault_of(*failure);
    if (missed_grabs > 0) {
        std::fprintf(stderr, "vistrel-app: %d grabs of the recording failed, the frame before stands in: %s\n",
                     missed_grabs, grab_problem.c_str());
    }
    bool mp4 = request.format == RecordingFormat::mp4;
    Recording recording{std::move(std::get<std::string>(encoding.result)), mp4 ? "video/mp4" : "video/webm"};
    if (request.preview > 0) {
        std::vector<TimedFrame> frames = preview.pick(tick);
        if (frames.empty()) {
            recording.preview_problem = "no frames were kept for the preview";
        } else {
            recording.preview = encode_jpeg(contact_sheet(frames, {sheet_max_side, sheet_max_pixels}));
        }
    }
    return recording;
}
}  // namespace

int queued_frames_limit(const WindowsRecorderSettings& settings, int width, int height) {
    if (settings.max_queued_frames > 0) return std::max(2, settings.max_queued_frames);
    long long frame_bytes = std::max(1LL, static_cast<long long>(width) * height * 4);
    return static_cast<int>(std::clamp(128LL * 1024 * 1024 / frame_bytes, 3LL, 25LL));
}

std::unique_ptr<WindowsRecorder> make_windows_recorder(ScreenBackend& screen, WindowsRecorderSettings settings) {
    return std::make_unique<InProcessRecorder>(screen, settings);
}
