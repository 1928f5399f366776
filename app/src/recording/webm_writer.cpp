#include "recording/webm_writer.h"

#include <mkvmuxer/mkvmuxer.h>
#include <vpx/vp8cx.h>
#include <vpx/vpx_encoder.h>

#include <algorithm>
#include <cstring>
#include <thread>

namespace {
constexpr std::uint64_t nanoseconds_per_second = 1'000'000'000;

// The muxer's output, kept in memory: the muxer goes back to fill in sizes,
// the duration and the cues' place once the frames are written.
class MemoryFile : public mkvmuxer::IMkvWriter {
public:
    mkvmuxer::int32 Write(const void* buffer, mkvmuxer::uint32 length) override {
        std::size_t end = position_ + length;
        if (end > bytes.size()) bytes.resize(end);
        std::memcpy(bytes.data() + position_, buffer, length);
        position_ = end;
        return 0;
    }
    mkvmuxer::int64 Position() const override { return static_cast<mkvmuxer::int64>(position_); }
    mkvmuxer::int32 Position(mkvmuxer::int64 position) override {
        if (position < 0 || static_cast<std::size_t>(position) > bytes.size()) return -1;
        position_ = static_cast<std::size_t>(position);
        return 0;
    }
    bool Seekable() const override { return true; }
    void ElementStartNotify(mkvmuxer::uint64, mkvmuxer::int64) override {}

    std::string bytes;

private:
    std::size_t position_ = 0;
};

EncodeFailure failure(std::string message) {
    return EncodeFailure{EncodeFailure::Kind::failed, std::move(message)};
}
}  // namespace

struct WebmWriter::State {
    vpx_codec_ctx_t codec{};
    bool codec_open = false;
    MemoryFile file;
    mkvmuxer::Segment segment;
    std::uint64_t track = 0;
    int width = 0, height = 0, frames_per_second = 0;
    int frames = 0;
    bool finished = false;

    ~State() {
        if (codec_open) vpx_codec_destroy(&codec);
    }

    std::string codec_problem(const char* doing) {
        std::string text = std::string("the VP8 encoder failed ") + doing + ": " + vpx_codec_error(&codec);
        if (const char* detail = vpx_codec_error_detail(&codec)) text += std::string(" (") + detail + ")";
        return text;
    }

    // Hands every frame the encoder has finished to the muxer.
    std::optional<EncodeFailure> mux_packets() {
        vpx_codec_iter_t iterator = nullptr;
        while (const vpx_codec_cx_pkt_t* packet = vpx_codec_get_cx_data(&codec, &iterator)) {
            if (packet->kind != VPX_CODEC_CX_FRAME_PKT) continue;
            auto shown_at = static_cast<std::uint64_t>(packet->data.frame.pts) * nanoseconds_per_second /
                            static_cast<std::uint64_t>(frames_per_second);
            bool key = (packet->data.frame.flags & VPX_FRAME_IS_KEY) != 0;
            if (!segment.AddFrame(static_cast<const std::uint8_t*>(packet->data.frame.buf), packet->data.frame.sz,
                                  track, shown_at, key)) {
                return failure("the WebM muxer could not add a frame");
            }
        }
        return std::nullopt;
    }
};

WebmWriter::WebmWriter() = default;
WebmWriter::~WebmWriter() = default;

int WebmWriter::frames() const {
    return state_ ? state_->frames : 0;
}

std::optional<EncodeFailure> WebmWriter::start(int width, int height, int frames_per_second) {
    if (state_) return failure("the WebM writer was started twice");
    if (width <= 0 || height <= 0 || width % 2 != 0 || height % 2 != 0 || width > 16384 || height > 16384) {
        return failure("a WebM recording needs even sides of 2 to 16384 pixels (got " + std::to_string(width) + "x" +
                       std::to_string(height) + ")");
    }
    if (frames_per_second < 1 || frames_per_second > 1000) {
        return failure("a WebM recording needs 1 to 1000 frames a second (got " + std::to_string(frames_per_second) +
                       ")");
    }
    auto state = std::make_unique<State>();
    state->width = width;
    state->height = height;
    state->frames_per_second = frames_per_second;

    // ffmpeg's libvpx wrapper with "-deadline realtime -cpu-used 8 -b:v 2M":
    // one pass, variable bit rate aiming at 2 Mbit/s, a thread a core (at
    // most 16), no frames held back and none dropped.
    vpx_codec_iface_t* vp8 = vpx_codec_vp8_cx();
    vpx_codec_enc_cfg_t config;
    if (vpx_codec_enc_config_default(vp8, &config, 0) != VPX_CODEC_OK) {
        return failure("the VP8 encoder has no default settings");
    }
    config.g_w = static_cast<unsigned>(width);
    config.g_h = static_cast<unsigned>(height);
    config.g_timebase = {1, frames_per_second};
    config.g_threads = std::clamp(std::thread::hardware_concurrency(), 1u, 16u);
    config.g_pass = VPX_RC_ONE_PASS;
    config.g_lag_in_frames = 0;
    config.rc_end_usage = VPX_VBR;
    config.rc_target_bitrate = webm_bits_per_second / 1000;
    config.rc_dropframe_thresh = 0;
    if (vpx_codec_enc_init(&state->codec, vp8, &config, 0) != VPX_CODEC_OK) {
        return failure(state->codec_problem("to start"));
    }
    state->codec_open = true;
    if (vpx_codec_control(&state->codec, VP8E_SET_CPUUSED, 8) != VPX_CODEC_OK) {
        return failure(state->codec_problem("to take cpu-used 8"));
    }

    if (!state->segment.Init(&state->file)) return failure("the WebM muxer could not start");
    state->segment.set_mode(mkvmuxer::Segment::kFile);
    state->segment.GetSegmentInfo()->set_writing_app("vistrel-app");
    state->track = state->segment.AddVideoTrack(width, height, 0);
    if (state->track == 0) return failure("the WebM muxer could not add the video track");
    auto* video = static_cast<mkvmuxer::VideoTrack*>(state->segment.GetTrackByNumber(state->track));
    video->set_default_duration(nanoseconds_per_second / static_cast<std::uint64_t>(frames_per_second));
    state->segment.CuesTrack(state->track);
    state_ = std::move(state);
    return std::nullopt;
}

std::optional<EncodeFailure> WebmWriter::add_frame(const I420Frame& frame) {
    if (!state_) return failure("the WebM writer was handed a frame before it started");
    State& state = *state_;
    if (state.finished) return failure("the WebM writer was handed a frame after it finished");
    std::size_t pixels = static_cast<std::size_t>(state.width) * static_cast<std::size_t>(state.height);
    if (frame.width != state.width || frame.height != state.height || frame.y.size() != pixels ||
        frame.u.size() != pixels / 4 || frame.v.size() != pixels / 4) {
        return failure("a frame of " + std::to_string(frame.width) + "x" + std::to_string(frame.height) +
                       " came for a recording of " + std::to_string(state.width) + "x" + std::to_string(state.height));
    }
    // libvpx only reads the planes; its image type has no const.
    vpx_image_t image;
    vpx_img_wrap(&image, VPX_IMG_FMT_I420, static_cast<unsigned>(state.width), static_cast<unsigned>(state.height), 1,
                 const_cast<std::uint8_t*>(frame.y.data()));
    image.planes[VPX_PLANE_Y] = const_cast<std::uint8_t*>(frame.y.data());
    image.planes[VPX_PLANE_U] = const_cast<std::uint8_t*>(frame.u.data());
    image.planes[VPX_PLANE_V] = const_cast<std::uint8_t*>(frame.v.data());
    image.stride[VPX_PLANE_Y] = state.width;
    image.stride[VPX_PLANE_U] = state.width / 2;
    image.stride[VPX_PLANE_V] = state.width / 2;
    if (vpx_codec_encode(&state.codec, &image, state.frames, 1, 0, VPX_DL_REALTIME) != VPX_CODEC_OK) {
        return failure(state.codec_problem("on a frame"));
    }
    ++state.frames;
    return state.mux_packets();
}

std::variant<std::string, EncodeFailure> WebmWriter::finish() {
    if (!state_) return failure("the WebM writer was finished before it started");
    State& state = *state_;
    if (state.finished) return failure("the WebM writer was finished twice");
    state.finished = true;
    if (state.frames == 0) return failure("a WebM recording needs at least one frame");
    if (vpx_codec_encode(&state.codec, nullptr, state.frames, 1, 0, VPX_DL_REALTIME) != VPX_CODEC_OK) {
        return failure(state.codec_problem("to finish"));
    }
    if (auto problem = state.mux_packets()) return *problem;
    // The length of the frames, in the segment's milliseconds: the last
    // frame counts whole, as in ffmpeg's files.
    state.segment.set_duration(state.frames * 1000.0 / state.frames_per_second);
    if (!state.segment.Finalize()) return failure("the WebM muxer could not finish the file");
    return std::move(state.file.bytes);
}
