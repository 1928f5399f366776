#include "screen/pipewire_stream.h"

#include "fault.h"
#include "screen/pipewire_connection.h"

#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>
#include <unistd.h>

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <optional>

namespace {
std::optional<PixelLayout> layout_of(spa_video_format format) {
    switch (format) {
        case SPA_VIDEO_FORMAT_BGRx:
        case SPA_VIDEO_FORMAT_BGRA:
            return bgrx_layout;
        case SPA_VIDEO_FORMAT_RGBx:
        case SPA_VIDEO_FORMAT_RGBA:
            return rgbx_layout;
        case SPA_VIDEO_FORMAT_xRGB:
        case SPA_VIDEO_FORMAT_ARGB:
            return xrgb_layout;
        case SPA_VIDEO_FORMAT_xBGR:
        case SPA_VIDEO_FORMAT_ABGR:
            return xbgr_layout;
        default:
            return std::nullopt;
    }
}
}  // namespace

struct PipeWireState {
    PipeWireConnection pw;
    spa_hook stream_listener{};

    // Written on PipeWire's thread, read by the recorder's.
    std::mutex mutex;
    std::condition_variable arrived;
    std::optional<PixelLayout> layout;
    int width = 0, height = 0;
    RawFrame frame;
    bool have_frame = false;
    std::string problem;

    void fail(const std::string& why) {
        {
            std::lock_guard lock(mutex);
            if (problem.empty()) problem = why;
        }
        arrived.notify_all();
    }

    static void on_state_changed(void* data, pw_stream_state, pw_stream_state state, const char* error) {
        auto* s = static_cast<PipeWireState*>(data);
        if (state == PW_STREAM_STATE_ERROR) {
            s->fail("the screen's PipeWire stream failed: " + std::string(error ? error : "no reason given"));
        } else if (state == PW_STREAM_STATE_UNCONNECTED) {
            s->fail("the desktop ended the screen's PipeWire stream");
        }
    }

    static void on_param_changed(void* data, uint32_t id, const spa_pod* param) {
        auto* s = static_cast<PipeWireState*>(data);
        if (!param || id != SPA_PARAM_Format) return;
        uint32_t media_type = 0, media_subtype = 0;
        spa_video_info_raw info{};
        if (spa_format_parse(param, &media_type, &media_subtype) < 0 || media_type != SPA_MEDIA_TYPE_video ||
            media_subtype != SPA_MEDIA_SUBTYPE_raw || spa_format_video_raw_parse(param, &info) < 0) {
            s->fail("the desktop offers the screen in a form vistrel-app cannot read");
            return;
        }
        {
            std::lock_guard lock(s->mutex);
            s->layout = layout_of(info.format);
            s->width = static_cast<int>(info.size.width);
            s->height = static_cast<int>(info.size.height);
        }
        // Frames in memory this process can read, not on the graphics card.
        std::uint8_t buffer[256];
        spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
        const spa_pod* params[1];
        params[0] = static_cast<const spa_pod*>(
            spa_pod_builder_add_object(&b, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_dataType,
                                       SPA_POD_CHOICE_FLAGS_Int((1 << SPA_DATA_MemPtr) | (1 << SPA_DATA_MemFd))));
        pw_stream_update_params(s->pw.stream, params, 1);
    }

    static void on_process(void* data) {
        auto* s = static_cast<PipeWireState*>(data);
        pw_buffer* b = pw_stream_dequeue_buffer(s->pw.stream);
        if (!b) return;
        spa_buffer* buffer = b->buffer;
        if (buffer->n_datas > 0 && buffer->datas[0].data && buffer->datas[0].chunk) {
            const spa_data& d = buffer->datas[0];
            std::lock_guard lock(s->mutex);
            int stride = d.chunk->stride;
            std::size_t size = static_cast<std::size_t>(stride) * static_cast<std::size_t>(s->height);
            bool whole = s->layout && stride >= s->width * 4 && s->height > 0 && d.chunk->size > 0 &&
                         !(d.chunk->flags & SPA_CHUNK_FLAG_CORRUPTED) && d.chunk->offset + size <= d.maxsize;
            if (whole) {
                const auto* bytes = static_cast<const std::uint8_t*>(d.data) + d.chunk->offset;
                s->frame.width = s->width;
                s->frame.height = s->height;
                s->frame.stride = stride;
                s->frame.bottom_up = false;
                s->frame.layout = *s->layout;
                s->frame.bytes.assign(bytes, bytes + size);
                s->have_frame = true;
            } else if (!s->layout) {
                s->problem = "the desktop sends the screen in a pixel format vistrel-app cannot read";
            }
        }
        pw_stream_queue_buffer(s->pw.stream, b);
        s->arrived.notify_all();
    }
};

namespace {
const pw_stream_events stream_events = [] {
    pw_stream_events events{};
    events.version = PW_VERSION_STREAM_EVENTS;
    events.state_changed = PipeWireState::on_state_changed;
    events.param_changed = PipeWireState::on_param_changed;
    events.process = PipeWireState::on_process;
    return events;
}();

}  // namespace

PipeWireStream::PipeWireStream(int fd, unsigned node) : state_(std::make_unique<PipeWireState>()) {
    PipeWireState& s = *state_;
    if (!s.pw.connect_locked(fd, "vistrel-screencast")) {
        throw Fault{FaultKind::failed, "cannot connect to PipeWire through the desktop portal"};
    }
    s.pw.stream = pw_stream_new(s.pw.core, "vistrel screen recording",
                                pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY, "Capture",
                                                  PW_KEY_MEDIA_ROLE, "Screen", nullptr));
    if (!s.pw.stream) {
        pw_thread_loop_unlock(s.pw.loop);
        throw Fault{FaultKind::failed, "cannot open the screen's PipeWire stream"};
    }
    pw_stream_add_listener(s.pw.stream, &s.stream_listener, &stream_events, &s);

    std::uint8_t buffer[1024];
    spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
    spa_rectangle size_default{1920, 1080}, size_min{1, 1}, size_max{16384, 16384};
    spa_fraction rate_default{25, 1}, rate_min{0, 1}, rate_max{1000, 1};
    const spa_pod* params[1];
    params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType, SPA_POD_Id(SPA_MEDIA_TYPE_video),
        SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
        SPA_POD_CHOICE_ENUM_Id(9, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRx, SPA_VIDEO_FORMAT_BGRA,
                               SPA_VIDEO_FORMAT_RGBx, SPA_VIDEO_FORMAT_RGBA, SPA_VIDEO_FORMAT_xRGB,
                               SPA_VIDEO_FORMAT_ARGB, SPA_VIDEO_FORMAT_xBGR, SPA_VIDEO_FORMAT_ABGR),
        SPA_FORMAT_VIDEO_size, SPA_POD_CHOICE_RANGE_Rectangle(&size_default, &size_min, &size_max),
        SPA_FORMAT_VIDEO_framerate, SPA_POD_CHOICE_RANGE_Fraction(&rate_default, &rate_min, &rate_max)));
    int rc = pw_stream_connect(s.pw.stream, PW_DIRECTION_INPUT, node,
                               static_cast<pw_stream_flags>(PW_STREAM_FLAG_AUTOCONNECT | PW_STREAM_FLAG_MAP_BUFFERS),
                               params, 1);
    pw_thread_loop_unlock(s.pw.loop);
    if (rc < 0) throw Fault{FaultKind::failed, "cannot connect to the screen's PipeWire stream"};
}

// The connection's own destructor ends PipeWire's thread, also when the
// constructor gave up half way.
PipeWireStream::~PipeWireStream() = default;

bool PipeWireStream::wait_for_frame(std::chrono::milliseconds limit, std::string& problem) {
    PipeWireState& s = *state_;
    std::unique_lock lock(s.mutex);
    s.arrived.wait_for(lock, limit, [&] { return s.have_frame || !s.problem.empty(); });
    if (s.have_frame) return true;
    problem = !s.problem.empty() ? s.problem
                                 : "the desktop granted the recording but sent no picture within " +
                                       std::to_string(limit.count() / 1000) + " seconds";
    return false;
}

bool PipeWireStream::newest(RawFrame& frame, std::string& problem) {
    PipeWireState& s = *state_;
    std::lock_guard lock(s.mutex);
    if (!s.problem.empty()) {
        problem = s.problem;
        return false;
    }
    frame = s.frame;
    return true;
}
