#include "cameras/media_foundation/mf_stream.h"

#include "platform/com_ref.h"
#include "cameras/media_foundation/mf_failures.h"
#include "cameras/media_foundation/mf_modes.h"

#include <mfapi.h>
#include <mferror.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>

namespace {
using namespace std::chrono_literals;

constexpr DWORD video_stream = static_cast<DWORD>(MF_SOURCE_READER_FIRST_VIDEO_STREAM);
// How long stopping waits for the reader to give back its pending request.
constexpr auto flush_wait = 2s;
}  // namespace

struct MfStream::State {
    std::mutex mutex;
    std::condition_variable changed;
    std::deque<CapturedFrame> frames;
    HRESULT error = S_OK;  // the reader's failure, once it has one
    bool ended = false;    // the stream ended: the device went
    bool stopping = false;
    bool flushed = false;
    int requesting = 0;  // callbacks asking for the next frame now
    ComRef<IMFSourceReader> reader;

    // What the frames are, as the stream runs.
    PixelFormat format = PixelFormat::mjpeg;
    FrameSize size;
    long stride = 0;
    bool full_range = false;
    std::chrono::milliseconds exposure_allowance{100};

    CapturedFrame frame_of(IMFSample* sample, SteadyTime arrived) {
        CapturedFrame captured;
        captured.frame.format = format;
        captured.frame.width = size.width;
        captured.frame.height = size.height;
        captured.frame.bytes_per_line = format == PixelFormat::mjpeg ? 0 : static_cast<int>(stride);
        captured.frame.full_range = full_range;
        // The sample's times count from the start of the stream, not on a
        // clock the app can read: the frame was exposed at least the
        // allowance (readout and transfer) before it arrived.
        captured.exposed = arrived - exposure_allowance;
        ComRef<IMFMediaBuffer> buffer;
        BYTE* data = nullptr;
        DWORD length = 0;
        if (FAILED(sample->ConvertToContiguousBuffer(buffer.put())) || FAILED(buffer->Lock(&data, nullptr, &length))) {
            captured.damaged = true;
            return captured;
        }
        captured.frame.bytes.assign(reinterpret_cast<const char*>(data), length);
        buffer->Unlock();
        std::size_t needed = frame_bytes(format, size, stride);
        captured.damaged = length == 0 || captured.frame.bytes.size() < needed;
        return captured;
    }

    // Asks the reader for the next frame, unless the stream is over.
    void request_next(std::unique_lock<std::mutex>& lock) {
        if (stopping || ended || FAILED(error) || !reader) return;
        IMFSourceReader* asked = reader.get();
        ++requesting;
        lock.unlock();
        HRESULT result = asked->ReadSample(video_stream, 0, nullptr, nullptr, nullptr, nullptr);
        lock.lock();
        --requesting;
        if (FAILED(result) && SUCCEEDED(error)) error = result;
        changed.notify_all();
    }
};

class MfStream::Callback final : public IMFSourceReaderCallback {
public:
    explicit Callback(std::shared_ptr<State> state) : state_(std::move(state)) {}

    STDMETHODIMP QueryInterface(REFIID id, void** object) override {
        if (!object) return E_POINTER;
        if (id == IID_IUnknown || id == IID_IMFSourceReaderCallback) {
            *object = static_cast<IMFSourceReaderCallback*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
    STDMETHODIMP_(ULONG) Release() override {
        ULONG left = --references_;
        if (left == 0) delete this;
        return left;
    }

    STDMETHODIMP OnReadSample(HRESULT status, DWORD, DWORD flags, LONGLONG, IMFSample* sample) override {
        SteadyTime arrived = std::chrono::steady_clock::now();
        std::optional<CapturedFrame> frame;
        if (SUCCEEDED(status) && sample) frame = state_->frame_of(sample, arrived);
        std::unique_lock lock(state_->mutex);
        if (FAILED(status)) {
            state_->error = status;
        } else if (flags & MF_SOURCE_READERF_ERROR) {
            state_->error = E_FAIL;
        } else if (flags & MF_SOURCE_READERF_ENDOFSTREAM) {
            state_->ended = true;
        }
        if (frame) {
            state_->frames.push_back(std::move(*frame));
            while (state_->frames.size() > mf_frames_kept) state_->frames.pop_front();
        }
        state_->changed.notify_all();
        state_->request_next(lock);
        return S_OK;
    }

    STDMETHODIMP OnFlush(DWORD) override {
        std::lock_guard lock(state_->mutex);
        state_->flushed = true;
        state_->changed.notify_all();
        return S_OK;
    }

    STDMETHODIMP OnEvent(DWORD, IMFMediaEvent*) override { return S_OK; }

private:
    ~Callback() = default;
    std::shared_ptr<State> state_;
    std::atomic<ULONG> references_{1};
};

namespace {
// The native media type of the mode, at its fastest rate.
ComRef<IMFMediaType> native_type(IMFSourceReader* reader, const CaptureMode& mode) {
    ComRef<IMFMediaType> best;
    double best_fps = -1;
    for (DWORD index = 0;; ++index) {
        ComRef<IMFMediaType> type;
        HRESULT result = reader->GetNativeMediaType(video_stream, index, type.put());
        if (result == MF_E_NO_MORE_TYPES) break;
        if (FAILED(result)) throw capture_error(MfCall::start, "IMFSourceReader::GetNativeMediaType", result);
        MfMediaTypeFacts facts = media_type_facts(type.get());
        if (!facts.mode || facts.mode->format != mode.format || facts.mode->size != mode.size) continue;
        if (facts.mode->fps > best_fps) {
            best_fps = facts.mode->fps;
            best = std::move(type);
        }
    }
    return best;
}

void check(HRESULT result, const char* doing) {
    if (FAILED(result)) throw capture_error(MfCall::start, doing, result);
}
}  // namespace

MfStream::MfStream(const MfLibrary& library, IMFMediaSource* source, const CaptureMode& mode)
    : state_(std::make_shared<State>()) {
    ComRef<IMFAttributes> attributes;
    check(library.create_attributes(attributes.put(), 3), "MFCreateAttributes");
    Callback* callback = new Callback(state_);
    HRESULT result = attributes->SetUnknown(MF_SOURCE_READER_ASYNC_CALLBACK, callback);
    callback->Release();  // the attributes hold it now, and then the reader
    check(result, "setting the source reader's callback");
    // The device stays open between streams: its controls are read then.
    check(attributes->SetUINT32(MF_SOURCE_READER_DISCONNECT_MEDIASOURCE_ON_SHUTDOWN, TRUE),
          "keeping the source past the reader");
    // The camera's own frames, without decoders or converters between.
    check(attributes->SetUINT32(MF_READWRITE_DISABLE_CONVERTERS, TRUE), "choosing native frames");
    ComRef<IMFSourceReader> reader;
    check(library.create_source_reader(source, attributes.get(), reader.put()), "MFCreateSourceReaderFromMediaSource");

    ComRef<IMFMediaType> type = native_type(reader.get(), mode);
    if (!type) {
        throw CaptureError(CaptureFailure::unsupported, "the camera offers no " + std::to_string(mode.size.width) +
                                                            "x" + std::to_string(mode.size.height) +
                                                            " mode in this format");
    }
    check(reader->SetStreamSelection(static_cast<DWORD>(MF_SOURCE_READER_ALL_STREAMS), FALSE),
          "IMFSourceReader::SetStreamSelection");
    check(reader->SetStreamSelection(video_stream, TRUE), "IMFSourceReader::SetStreamSelection");
    check(reader->SetCurrentMediaType(video_stream, nullptr, type.get()), "IMFSourceReader::SetCurrentMediaType");

    ComRef<IMFMediaType> current;
    check(reader->GetCurrentMediaType(video_stream, current.put()), "IMFSourceReader::GetCurrentMediaType");
    MfMediaTypeFacts facts = media_type_facts(current.get());
    mode_ = facts.mode ? *facts.mode : mode;
    {
        std::unique_lock lock(state_->mutex);
        state_->format = mode_.format;
        state_->size = mode_.size;
        long least = default_stride(mode_.format, mode_.size.width);
        state_->stride = std::max(facts.stride, least);
        state_->full_range = facts.full_range;
        // About two frame periods: the exposure itself, then readout and
        // transfer; never under 50 ms.
        auto period = std::chrono::milliseconds(mode_.fps > 0 ? static_cast<long>(1000 / mode_.fps) : 100);
        state_->exposure_allowance = std::max<std::chrono::milliseconds>(2 * period, 50ms);
        state_->reader = std::move(reader);
        state_->request_next(lock);
        // The first request failing at once is a start that failed.
        if (FAILED(state_->error)) {
            HRESULT failed = state_->error;
            lock.unlock();
            shut();
            throw capture_error(MfCall::start, "IMFSourceReader::ReadSample", failed);
        }
    }
}

MfStream::~MfStream() {
    shut();
}

void MfStream::shut() {
    std::unique_lock lock(state_->mutex);
    if (!state_->reader) return;
    state_->stopping = true;
    IMFSourceReader* reader = state_->reader.get();
    state_->flushed = false;
    lock.unlock();
    reader->Flush(static_cast<DWORD>(MF_SOURCE_READER_ALL_STREAMS));
    lock.lock();
    // The pending request is cancelled; no callback asks for more. The
    // reader goes last, from this thread (never from its own callback).
    state_->changed.wait_for(lock, flush_wait, [&] { return state_->flushed && state_->requesting == 0; });
    state_->changed.wait(lock, [&] { return state_->requesting == 0; });
    ComRef<IMFSourceReader> last = std::move(state_->reader);
    lock.unlock();
    last.reset();
}

CapturedFrame MfStream::next(SteadyTime deadline) {
    std::unique_lock lock(state_->mutex);
    state_->changed.wait_until(lock, deadline,
                               [&] { return !state_->frames.empty() || FAILED(state_->error) || state_->ended; });
    if (!state_->frames.empty()) {
        CapturedFrame frame = std::move(state_->frames.front());
        state_->frames.pop_front();
        return frame;
    }
    if (FAILED(state_->error)) throw capture_error(MfCall::frames, "reading a frame", state_->error);
    if (state_->ended) throw CaptureError(CaptureFailure::gone, "the camera's stream ended");
    throw CaptureError(CaptureFailure::timed_out, "no frame came in time");
}
