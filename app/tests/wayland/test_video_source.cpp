#include "test_video_source.h"

#include "screen/pipewire_connection.h"

#include <spa/param/video/format-utils.h>
#include <spa/pod/builder.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <stdexcept>
#include <thread>

struct TestVideoSourceState {
    PipeWireConnection pw;
    spa_hook listener{};
    spa_source* timer = nullptr;
    int width = 0, height = 0;
    std::uint32_t rgb = 0;

    static void on_param_changed(void* data, uint32_t id, const spa_pod* param) {
        auto* s = static_cast<TestVideoSourceState*>(data);
        if (!param || id != SPA_PARAM_Format) return;
        std::uint8_t buffer[256];
        spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
        const spa_pod* params[1];
        int stride = s->width * 4;
        params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
            &b, SPA_TYPE_OBJECT_ParamBuffers, SPA_PARAM_Buffers, SPA_PARAM_BUFFERS_buffers,
            SPA_POD_CHOICE_RANGE_Int(4, 2, 8), SPA_PARAM_BUFFERS_blocks, SPA_POD_Int(1), SPA_PARAM_BUFFERS_size,
            SPA_POD_Int(stride * s->height), SPA_PARAM_BUFFERS_stride, SPA_POD_Int(stride), SPA_PARAM_BUFFERS_dataType,
            SPA_POD_CHOICE_FLAGS_Int(1 << SPA_DATA_MemPtr)));
        pw_stream_update_params(s->pw.stream, params, 1);
    }

    static void on_process(void* data) {
        auto* s = static_cast<TestVideoSourceState*>(data);
        pw_buffer* b = pw_stream_dequeue_buffer(s->pw.stream);
        if (!b) return;
        spa_data& d = b->buffer->datas[0];
        if (d.data) {
            auto* bytes = static_cast<std::uint8_t*>(d.data);
            int stride = s->width * 4;
            for (int i = 0; i < s->width * s->height; ++i) {
                bytes[i * 4 + 0] = s->rgb & 0xFF;          // blue
                bytes[i * 4 + 1] = (s->rgb >> 8) & 0xFF;   // green
                bytes[i * 4 + 2] = (s->rgb >> 16) & 0xFF;  // red
                bytes[i * 4 + 3] = 0xFF;
            }
            d.chunk->offset = 0;
            d.chunk->stride = stride;
            d.chunk->size = static_cast<std::uint32_t>(stride * s->height);
        }
        pw_stream_queue_buffer(s->pw.stream, b);
    }

    static void on_timer(void* data, uint64_t) {
        auto* s = static_cast<TestVideoSourceState*>(data);
        pw_stream_trigger_process(s->pw.stream);
    }
};

namespace {
const pw_stream_events source_events = [] {
    pw_stream_events events{};
    events.version = PW_VERSION_STREAM_EVENTS;
    events.param_changed = TestVideoSourceState::on_param_changed;
    events.process = TestVideoSourceState::on_process;
    return events;
}();
}  // namespace

TestVideoSource::TestVideoSource(int fd, int width, int height, std::uint32_t rgb)
    : state_(std::make_unique<TestVideoSourceState>()) {
    TestVideoSourceState& s = *state_;
    s.width = width;
    s.height = height;
    s.rgb = rgb;
    if (!s.pw.connect_locked(fd, "vistrel-test-source")) throw std::runtime_error("cannot connect to PipeWire");
    s.pw.stream =
        pw_stream_new(s.pw.core, "vistrel test screen",
                      pw_properties_new(PW_KEY_MEDIA_TYPE, "Video", PW_KEY_MEDIA_CATEGORY, "Source", PW_KEY_MEDIA_ROLE,
                                        "Screen", PW_KEY_MEDIA_CLASS, "Video/Source", nullptr));
    pw_stream_add_listener(s.pw.stream, &s.listener, &source_events, &s);
    std::uint8_t buffer[512];
    spa_pod_builder b = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
    spa_rectangle size{static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height)};
    spa_fraction rate{25, 1};
    const spa_pod* params[1];
    params[0] = static_cast<const spa_pod*>(spa_pod_builder_add_object(
        &b, SPA_TYPE_OBJECT_Format, SPA_PARAM_EnumFormat, SPA_FORMAT_mediaType, SPA_POD_Id(SPA_MEDIA_TYPE_video),
        SPA_FORMAT_mediaSubtype, SPA_POD_Id(SPA_MEDIA_SUBTYPE_raw), SPA_FORMAT_VIDEO_format,
        SPA_POD_Id(SPA_VIDEO_FORMAT_BGRx), SPA_FORMAT_VIDEO_size, SPA_POD_Rectangle(&size), SPA_FORMAT_VIDEO_framerate,
        SPA_POD_Fraction(&rate)));
    pw_stream_connect(s.pw.stream, PW_DIRECTION_OUTPUT, PW_ID_ANY,
                      static_cast<pw_stream_flags>(PW_STREAM_FLAG_DRIVER | PW_STREAM_FLAG_MAP_BUFFERS), params, 1);
    s.timer = pw_loop_add_timer(pw_thread_loop_get_loop(s.pw.loop), TestVideoSourceState::on_timer, &s);
    timespec first{0, 40'000'000}, every{0, 40'000'000};
    pw_loop_update_timer(pw_thread_loop_get_loop(s.pw.loop), s.timer, &first, &every, false);
    pw_thread_loop_unlock(s.pw.loop);
}

TestVideoSource::~TestVideoSource() = default;

std::uint32_t TestVideoSource::node() {
    for (int i = 0; i < 100; ++i) {
        pw_thread_loop_lock(state_->pw.loop);
        std::uint32_t id = pw_stream_get_node_id(state_->pw.stream);
        pw_thread_loop_unlock(state_->pw.loop);
        if (id != SPA_ID_INVALID) return id;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return 0;
}

int connect_to_pipewire(const std::string& runtime_dir) {
    std::string path = runtime_dir + "/pipewire-0";
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.size() >= sizeof address.sun_path) return -1;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}
