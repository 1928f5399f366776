#include "recording/mp4_writer_mf.h"

#include "platform/com_ref.h"

#include <windows.h>

#include <codecapi.h>
#include <mfapi.h>
#include <mferror.h>
#include <mfidl.h>
#include <mfreadwrite.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

namespace fs = std::filesystem;

namespace {
// Windows 8's attribute, not in mingw-w64's headers.
const GUID moov_before_mdat = {0xf672e3ac, 0xe1e6, 0x4f10, {0xb5, 0xec, 0x5f, 0x3b, 0x30, 0x82, 0x88, 0x16}};

constexpr LONGLONG ticks_per_second = 10'000'000;  // Media Foundation's 100 ns

const char* const unsupported_message = "MP4 needs Windows' H.264 encoder (Media Foundation), which this Windows lacks";

EncodeFailure unsupported(const std::string& why) {
    return EncodeFailure{EncodeFailure::Kind::unsupported,
                         std::string(unsupported_message) + " (" + why + "); use --format webm"};
}

EncodeFailure failure(std::string message) {
    return EncodeFailure{EncodeFailure::Kind::failed, std::move(message)};
}

std::string hresult_text(HRESULT result) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(result));
    return text;
}

EncodeFailure failed_call(const char* what, HRESULT result) {
    return failure(std::string("Media Foundation could not ") + what + " (" + hresult_text(result) + ")");
}

// The functions of mfplat.dll and mfreadwrite.dll that the writer calls,
// found at run time.
struct MediaFoundation {
    HMODULE platform = nullptr;
    HMODULE read_write = nullptr;
    decltype(&MFStartup) startup = nullptr;
    decltype(&MFShutdown) shutdown = nullptr;
    decltype(&MFTEnumEx) enumerate = nullptr;
    decltype(&MFCreateAttributes) create_attributes = nullptr;
    decltype(&MFCreateMediaType) create_media_type = nullptr;
    decltype(&MFCreateMemoryBuffer) create_memory_buffer = nullptr;
    decltype(&MFCreateSample) create_sample = nullptr;
    decltype(&MFCreateSinkWriterFromURL) create_sink_writer = nullptr;

    MediaFoundation() = default;
    MediaFoundation(const MediaFoundation&) = delete;
    MediaFoundation& operator=(const MediaFoundation&) = delete;
    ~MediaFoundation() {
        if (read_write) FreeLibrary(read_write);
        if (platform) FreeLibrary(platform);
    }

    // Nothing when every function was found; else what is missing.
    std::optional<std::string> load() {
        // From System32 only: never a same-named file from the current folder.
        platform = LoadLibraryExW(L"mfplat.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        if (!platform) return "mfplat.dll is missing";
        read_write = LoadLibraryExW(L"mfreadwrite.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
        if (!read_write) return "mfreadwrite.dll is missing";
        bool found = find(platform, "MFStartup", startup) && find(platform, "MFShutdown", shutdown) &&
                     find(platform, "MFTEnumEx", enumerate) &&
                     find(platform, "MFCreateAttributes", create_attributes) &&
                     find(platform, "MFCreateMediaType", create_media_type) &&
                     find(platform, "MFCreateMemoryBuffer", create_memory_buffer) &&
                     find(platform, "MFCreateSample", create_sample) &&
                     find(read_write, "MFCreateSinkWriterFromURL", create_sink_writer);
        if (!found) return "its libraries lack functions it needs";
        return std::nullopt;
    }

private:
    template <typename Function>
    static bool find(HMODULE library, const char* name, Function& function) {
        FARPROC address = GetProcAddress(library, name);
        // Through void (*)(), the one function type that converts to any
        // other without a warning about mismatched types.
        function = reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address));
        return address != nullptr;
    }
};

// A fresh name in the user's temporary folder.
fs::path temporary_mp4() {
    static std::atomic<unsigned> counter{0};
    wchar_t folder[MAX_PATH + 1];
    DWORD length = GetTempPathW(MAX_PATH + 1, folder);
    fs::path base =
        length > 0 && length <= MAX_PATH ? fs::path(std::wstring(folder, length)) : fs::temp_directory_path();
    return base / ("vistrel-recording-" + std::to_string(GetCurrentProcessId()) + "-" +
                   std::to_string(GetTickCount64()) + "-" + std::to_string(counter++) + ".mp4");
}

std::uint64_t packed(UINT32 high, UINT32 low) {
    return (static_cast<std::uint64_t>(high) << 32) | low;
}

// A bit rate that grows with the picture: about 0.1 bit a pixel, 5.2 Mbit/s
// at 1920x1080 and 25 frames a second, never under 1 Mbit/s.
UINT32 bits_per_second(int width, int height, int frames_per_second) {
    double bits = 0.1 * width * height * frames_per_second;
    return static_cast<UINT32>(bits < 1e6 ? 1e6 : bits > 50e6 ? 50e6 : bits);
}
}  // namespace

struct Mp4Writer::State {
    MediaFoundation library;
    bool com_joined = false;
    bool started = false;
    ComRef<IMFSinkWriter> writer;
    DWORD stream = 0;
    fs::path file;
    int width = 0, height = 0, frames_per_second = 0;
    int frames = 0;
    bool finished = false;

    State() = default;
    State(const State&) = delete;
    State& operator=(const State&) = delete;
    ~State() {
        writer.reset();
        if (started) library.shutdown();
        if (com_joined) CoUninitialize();
        remove_file();
    }

    void remove_file() {
        if (file.empty()) return;
        std::error_code ignored;
        fs::remove(file, ignored);
    }

    // The sink writer with its H.264 stream, ready for frames.
    std::optional<EncodeFailure> open_writer(bool hardware) {
        writer.reset();
        remove_file();
        file = temporary_mp4();

        ComRef<IMFAttributes> attributes;
        HRESULT result = library.create_attributes(attributes.put(), 3);
        if (FAILED(result)) return failed_call("make the writer's settings", result);
        attributes->SetUINT32(MF_READWRITE_ENABLE_HARDWARE_TRANSFORMS, hardware ? TRUE : FALSE);
        attributes->SetGUID(MF_TRANSCODE_CONTAINERTYPE, MFTranscodeContainerType_MPEG4);
        attributes->SetUINT32(moov_before_mdat, TRUE);
        result = library.create_sink_writer(file.wstring().c_str(), nullptr, attributes.get(), writer.put());
        if (FAILED(result)) return failed_call("make an MP4 writer", result);

        ComRef<IMFMediaType> output;
        result = library.create_media_type(output.put());
        if (FAILED(result)) return failed_call("make a media type", result);
        output->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
        output->SetGUID(MF_MT_SUBTYPE, MFVideoFormat_H264);
        output->SetUINT32(MF_MT_AVG_BITRATE, bits_per_second(width, height, frames_per_second));
        output->SetUINT32(MF_MT_INTERLACE_MODE, MFVideoInterlace_Progressive);
        output->SetUINT32(MF_MT_MPEG2_PROFILE, eAVEncH264VProfile_Main);
        output->SetUINT64(MF_MT_FRAME_SIZE, packed(width, height));
        output->SetUINT64(MF_MT_FRAME_RATE, packed(frames_per_second, 1));
        output->SetUINT64(MF_MT_PIXEL_ASPECT_RATIO, packed(1, 1));
        result = writer->AddStream(output.get(), &stream);
        if (FAILED(result)) return failed_call("add an H.264 stream", result);

        ComRef<IMFMediaType> input;
        result = library.create_media_type(input.put());
        if (FAILED(result)) return failed_call("make a media type", result);
        input->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
        input->SetGUID(MF_MT_SUBTYPE, MFVideoFormat_NV12);
        input->SetUINT32(MF_MT_INTERLACE_MODE, MFVideoInterlace_Progressive);
        input->SetUINT32(MF_MT_DEFAULT_STRIDE, static_cast<UINT32>(width));
        input->SetUINT64(MF_MT_FRAME_SIZE, packed(width, height));
        input->SetUINT64(MF_MT_FRAME_RATE, packed(frames_per_second, 1));
        input->SetUINT64(MF_MT_PIXEL_ASPECT_RATIO, packed(1, 1));
        result = writer->SetInputMediaType(stream, input.get(), nullptr);
        if (FAILED(result)) return failed_call("give the H.264 encoder NV12 frames", result);

        result = writer->BeginWriting();
        if (FAILED(result)) return failed_call("start writing the MP4 file", result);
        return std::nullopt;
    }
};

Mp4Writer::Mp4Writer() = default;
Mp4Writer::~Mp4Writer() = default;

int Mp4Writer::frames() const {
    return state_ ? state_->frames : 0;
}

std::optional<EncodeFailure> Mp4Writer::start(int width, int height, int frames_per_second) {
    if (state_) return failure("the MP4 writer was started twice");
    if (width <= 0 || height <= 0 || width % 2 != 0 || height % 2 != 0 || width > 16384 || height > 16384) {
        return failure("an MP4 recording needs even sides of 2 to 16384 pixels (got " + std::to_string(width) + "x" +
                       std::to_string(height) + ")");
    }
    if (frames_per_second < 1 || frames_per_second > 1000) {
        return failure("an MP4 recording needs 1 to 1000 frames a second (got " + std::to_string(frames_per_second) +
                       ")");
    }
    auto state = std::make_unique<State>();
    state->width = width;
    state->height = height;
    state->frames_per_second = frames_per_second;
    if (auto missing = state->library.load()) return unsupported(*missing);

    HRESULT result = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (SUCCEEDED(result)) {
        state->com_joined = true;  // S_FALSE too: every success is matched by CoUninitialize
    } else if (result != RPC_E_CHANGED_MODE) {
        return failed_call("start COM", result);
    }
    result = state->library.startup(MF_VERSION, MFSTARTUP_NOSOCKET);
    if (FAILED(result)) return unsupported("Media Foundation does not start: " + hresult_text(result));
    state->started = true;

    // Any H.264 encoder will do, software or hardware: the sink writer puts
    // a converter before one that does not take NV12.
    MFT_REGISTER_TYPE_INFO h264{MFMediaType_Video, MFVideoFormat_H264};
    IMFActivate** encoders = nullptr;
    UINT32 count = 0;
    result = state->library.enumerate(
        MFT_CATEGORY_VIDEO_ENCODER,
        MFT_ENUM_FLAG_SYNCMFT | MFT_ENUM_FLAG_ASYNCMFT | MFT_ENUM_FLAG_HARDWARE | MFT_ENUM_FLAG_SORTANDFILTER, nullptr,
        &h264, &encoders, &count);
    if (SUCCEEDED(result) && encoders) {
        for (UINT32 i = 0; i < count; ++i) encoders[i]->Release();
        CoTaskMemFree(encoders);
    }
    if (FAILED(result)) return unsupported("the encoders cannot be listed: " + hresult_text(result));
    if (count == 0) return unsupported("no H.264 encoder is installed");

    // A hardware encoder that refuses the format gives way to Windows'
    // software one.
    if (auto problem = state->open_writer(true)) {
        if (auto second = state->open_writer(false)) return second;
    }
    state_ = std::move(state);
    return std::nullopt;
}

std::optional<EncodeFailure> Mp4Writer::add_frame(const Nv12Frame& frame) {
    if (!state_) return failure("the MP4 writer was handed a frame before it started");
    State& state = *state_;
    if (state.finished) return failure("the MP4 writer was handed a frame after it finished");
    std::size_t pixels = static_cast<std::size_t>(state.width) * static_cast<std::size_t>(state.height);
    if (frame.width != state.width || frame.height != state.height || frame.y.size() != pixels ||
        frame.uv.size() != pixels / 2) {
        return failure("a frame of " + std::to_string(frame.width) + "x" + std::to_string(frame.height) +
                       " came for a recording of " + std::to_string(state.width) + "x" + std::to_string(state.height));
    }
    auto bytes = static_cast<DWORD>(pixels + pixels / 2);
    ComRef<IMFMediaBuffer> buffer;
    HRESULT result = state.library.create_memory_buffer(bytes, buffer.put());
    if (FAILED(result)) return failed_call("make a frame buffer", result);
    BYTE* data = nullptr;
    result = buffer->Lock(&data, nullptr, nullptr);
    if (FAILED(result)) return failed_call("fill a frame buffer", result);
    std::memcpy(data, frame.y.data(), frame.y.size());
    std::memcpy(data + frame.y.size(), frame.uv.data(), frame.uv.size());
    buffer->Unlock();
    buffer->SetCurrentLength(bytes);

    ComRef<IMFSample> sample;
    result = state.library.create_sample(sample.put());
    if (FAILED(result)) return failed_call("make a sample", result);
    sample->AddBuffer(buffer.get());
    LONGLONG shown_at = state.frames * ticks_per_second / state.frames_per_second;
    LONGLONG next = (state.frames + 1LL) * ticks_per_second / state.frames_per_second;
    sample->SetSampleTime(shown_at);
    sample->SetSampleDuration(next - shown_at);
    result = state.writer->WriteSample(state.stream, sample.get());
    if (FAILED(result)) return failed_call("encode a frame", result);
    ++state.frames;
    return std::nullopt;
}

std::variant<std::string, EncodeFailure> Mp4Writer::finish() {
    if (!state_) return failure("the MP4 writer was finished before it started");
    State& state = *state_;
    if (state.finished) return failure("the MP4 writer was finished twice");
    state.finished = true;
    if (state.frames == 0) return failure("an MP4 recording needs at least one frame");
    HRESULT result = state.writer->Finalize();
    state.writer.reset();
    if (FAILED(result)) return failed_call("finish the MP4 file", result);
    std::ifstream in(state.file, std::ios::binary);
    if (!in) return failure("the finished MP4 file cannot be read back");
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    in.close();
    state.remove_file();
    if (bytes.empty()) return failure("Media Foundation finished an empty MP4 file");
    return bytes;
}
