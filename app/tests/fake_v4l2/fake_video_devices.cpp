#include "fake_video_devices.h"

#include <linux/videodev2.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

namespace {
constexpr std::int64_t buffer_offset_unit = 1 << 20;
constexpr std::size_t mjpeg_padding = 64;  // zeros after the image, as some webcams leave
// How long a pulled-out camera's node stays registered after its stream's
// queue failed: the USB core kills the camera's transfers first (uvcvideo
// then calls vb2_queue_error), and unbinds the driver, which unregisters the
// node, right after.
constexpr auto unregistered_after = std::chrono::milliseconds(50);

std::uint32_t fourcc_code(const std::string& name) {
    std::uint32_t code = 0;
    for (int i = 0; i < 4; ++i) {
        auto c = static_cast<std::uint8_t>(i < static_cast<int>(name.size()) ? name[i] : ' ');
        code |= static_cast<std::uint32_t>(c) << (8 * i);
    }
    return code;
}

std::string fourcc_name(std::uint32_t fourcc) {
    std::string name;
    for (int shift = 0; shift < 32; shift += 8) {
        char c = static_cast<char>((fourcc >> shift) & 0xFF);
        if (c != ' ') name += c;
    }
    return name;
}

void copy_text(__u8* field, std::size_t size, const std::string& text) {
    std::memset(field, 0, size);
    std::memcpy(field, text.data(), std::min(size - 1, text.size()));
}

struct ControlId {
    std::uint32_t id;
    const char* key;
};

const ControlId control_ids[] = {
    {V4L2_CID_BRIGHTNESS, "brightness"},
    {V4L2_CID_CONTRAST, "contrast"},
    {V4L2_CID_SATURATION, "saturation"},
    {V4L2_CID_HUE, "hue"},
    {V4L2_CID_HUE_AUTO, "hue_auto"},
    {V4L2_CID_GAIN, "gain"},
    {V4L2_CID_EXPOSURE_AUTO, "exposure_auto"},
    {V4L2_CID_EXPOSURE_ABSOLUTE, "exposure_absolute"},
    {V4L2_CID_AUTO_WHITE_BALANCE, "white_balance_temperature_auto"},
    {V4L2_CID_WHITE_BALANCE_TEMPERATURE, "white_balance_temperature"},
    {V4L2_CID_PAN_ABSOLUTE, "pan_absolute"},
    {V4L2_CID_FOCUS_AUTO, "focus_auto"},
    {V4L2_CID_FOCUS_ABSOLUTE, "focus_absolute"},
    {V4L2_CID_ZOOM_ABSOLUTE, "zoom_absolute"},
    {V4L2_CID_POWER_LINE_FREQUENCY, "power_line_frequency"},
    {V4L2_CID_AUTO_FOCUS_STATUS, "auto_focus_status"},
};

std::string key_of(std::uint32_t id) {
    for (const auto& entry : control_ids) {
        if (entry.id == id) return entry.key;
    }
    return {};
}

std::uint32_t v4l2_type(FakeControlType type) {
    switch (type) {
        case FakeControlType::integer:
            return V4L2_CTRL_TYPE_INTEGER;
        case FakeControlType::boolean:
            return V4L2_CTRL_TYPE_BOOLEAN;
        case FakeControlType::menu:
            return V4L2_CTRL_TYPE_MENU;
    }
    return V4L2_CTRL_TYPE_INTEGER;
}

std::size_t frame_bytes(const std::string& fourcc, FrameSize size) {
    std::size_t pixels = static_cast<std::size_t>(size.width) * size.height;
    if (fourcc == "NV12") return pixels * 3 / 2;
    if (fourcc == "GREY") return pixels;
    return pixels * 2;  // YUYV, and room enough for any JPEG of it
}

std::uint32_t bytes_per_line(const std::string& fourcc, FrameSize size) {
    auto width = static_cast<std::uint32_t>(size.width);
    if (fourcc == "YUYV") return width * 2;
    if (fourcc == "NV12" || fourcc == "GREY") return width;
    return 0;
}
}  // namespace

FakeVideoDevices::FakeVideoDevices(std::string set_file) : set_file_(std::move(set_file)) {}

void FakeVideoDevices::log(int node, const std::string& event) {
    std::ofstream(set_file_ + ".log", std::ios::app) << "video" << node << " " << event << "\n";
}

void FakeVideoDevices::sync_with_file() {
    std::ifstream in(set_file_);
    std::stringstream text;
    text << in.rdbuf();
    if (text.str() != set_text_) {
        set_text_ = text.str();
        ++changes_;
    }
    std::vector<FakeNodeSettings> all_settings = parse_fake_nodes(set_text_);
    std::map<int, Node> nodes;
    for (const auto& settings : all_settings) {
        auto known = nodes_.find(settings.number);
        if (known != nodes_.end() && known->second.camera->settings() == settings) {
            nodes.emplace(settings.number, std::move(known->second));
            continue;
        }
        Node node;
        node.camera = std::make_unique<FakeWebcam>(settings);
        node.generation = ++generations_;
        nodes.emplace(settings.number, std::move(node));
    }
    for (auto& [number, node] : nodes_) {
        if (node.camera && !nodes.count(number)) log(number, "unplugged");
    }
    nodes_ = std::move(nodes);
    // A descriptor whose node was pulled out (or replaced) since it was
    // opened belongs to a device that is gone.
    auto now = std::chrono::steady_clock::now();
    for (auto& [fd, file] : files_) {
        auto node = nodes_.find(file.node);
        bool gone = node == nodes_.end() || node->second.generation != file.generation;
        if (gone && !file.lost) {
            file.lost = true;
            file.lost_at = now;
        }
    }
}

std::pair<FakeVideoDevices::OpenFile*, FakeVideoDevices::Node*> FakeVideoDevices::opened(int fd) {
    sync_with_file();
    auto file = files_.find(fd);
    if (file == files_.end()) return {nullptr, nullptr};
    if (file->second.lost) return {&file->second, nullptr};
    return {&file->second, &nodes_.at(file->second.node)};
}

FakeVideoDevices::Loss FakeVideoDevices::loss(const OpenFile& file) const {
    if (!file.lost) return Loss::none;
    return std::chrono::steady_clock::now() < file.lost_at + unregistered_after ? Loss::queue_error
                                                                                : Loss::unregistered;
}

void FakeVideoDevices::advance(OpenFile& file, Node& node, Time now) {
    if (!file.streaming) return;
    node.camera->expose_until(now, [&](const FakeExposure& frame) {
        if (file.queued.empty()) return false;
        file.done.push_back({file.queued.front(), frame});
        file.queued.pop_front();
        return true;
    });
    if (node.camera->unplugged()) {
        if (!node.unplug_logged) {
            log(file.node, "unplugged");
            ++changes_;
        }
        node.unplug_logged = true;
        for (auto& [fd, other] : files_) {
            if (other.node == file.node && other.generation == file.generation && !other.lost) {
                other.lost = true;
                other.lost_at = node.camera->unplugged_at();
            }
        }
    }
}

std::optional<std::uint64_t> FakeVideoDevices::changes() {
    std::lock_guard lock(mutex_);
    sync_with_file();
    return changes_;
}

std::vector<std::string> FakeVideoDevices::list_nodes() {
    std::lock_guard lock(mutex_);
    sync_with_file();
    std::vector<std::string> paths;
    for (const auto& [number, node] : nodes_) {
        if (!node.camera->unplugged()) paths.push_back("/dev/video" + std::to_string(number));
    }
    return paths;
}

int FakeVideoDevices::open(const std::string& path) {
    std::lock_guard lock(mutex_);
    sync_with_file();
    if (path.rfind("/dev/video", 0) != 0) return -ENOENT;
    int number = std::atoi(path.c_str() + 10);
    auto it = nodes_.find(number);
    if (it == nodes_.end() || it->second.camera->unplugged()) return -ENOENT;
    if (it->second.camera->settings().denied) return -EACCES;
    int fd = next_fd_++;
    files_[fd].node = number;
    files_[fd].generation = it->second.generation;
    log(number, "open");
    return fd;
}

void FakeVideoDevices::close(int fd) {
    std::lock_guard lock(mutex_);
    auto it = files_.find(fd);
    if (it == files_.end()) return;
    OpenFile& file = it->second;
    auto node = nodes_.find(file.node);
    if (!file.lost && node != nodes_.end() && node->second.owner == fd) {
        node->second.owner = -1;
        node->second.camera->stop(std::chrono::steady_clock::now());
    }
    if (file.streaming) log(file.node, "streamoff");
    log(file.node, "close");
    files_.erase(it);
}

void* FakeVideoDevices::mmap(int fd, std::size_t length, std::int64_t offset) {
    std::lock_guard lock(mutex_);
    auto it = files_.find(fd);
    if (it == files_.end()) return nullptr;
    auto index = static_cast<std::size_t>(offset / buffer_offset_unit);
    auto& buffers = it->second.buffers;
    if (index >= buffers.size() || length > buffers[index].size()) return nullptr;
    return buffers[index].data();
}

void FakeVideoDevices::munmap(void*, std::size_t) {}

int FakeVideoDevices::poll(int fd, int timeout_ms) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        Time wake;
        {
            std::lock_guard lock(mutex_);
            auto [open_file, node] = opened(fd);
            if (!open_file) return -EBADF;
            // A failed queue, an unregistered node and a descriptor that is
            // not streaming all report POLLERR.
            if (!node || !open_file->streaming) return -EIO;
            OpenFile& file = *open_file;
            auto now = std::chrono::steady_clock::now();
            advance(file, *node, now);
            if (file.lost) return -EIO;
            if (!file.done.empty()) return 1;
            if (now >= deadline) return 0;
            Time next = node->camera->next_exposure();
            wake = file.queued.empty() ? deadline : std::min(next, deadline);
        }
        std::this_thread::sleep_until(wake);
    }
}

int FakeVideoDevices::ioctl(int fd, unsigned long request, void* argument) {
    std::lock_guard lock(mutex_);
    auto [open_file, node] = opened(fd);
    if (!open_file) return -EBADF;
    OpenFile& file = *open_file;
    switch (loss(file)) {
        case Loss::unregistered:
            return -ENODEV;  // v4l2_ioctl: the node is no longer registered
        case Loss::queue_error:
            // The queue failed with the camera's transfers: buffers can no
            // longer be queued or dequeued, the stream can still be stopped,
            // and requests to the device itself find it gone.
            if (request == VIDIOC_DQBUF || request == VIDIOC_QBUF) return -EIO;
            if (request == VIDIOC_STREAMOFF) {
                file.streaming = false;
                file.queued.clear();
                file.done.clear();
                return 0;
            }
            if (request == VIDIOC_REQBUFS || request == VIDIOC_QUERYCAP) return 0;
            return -ENODEV;
        case Loss::none:
            break;
    }
    const FakeNodeSettings& settings = node->camera->settings();

    switch (request) {
        case VIDIOC_QUERYCAP: {
            auto* capability = static_cast<v4l2_capability*>(argument);
            std::memset(capability, 0, sizeof *capability);
            copy_text(capability->driver, sizeof capability->driver, "fake-uvc");
            copy_text(capability->card, sizeof capability->card, fake_card(settings));
            copy_text(capability->bus_info, sizeof capability->bus_info, settings.bus);
            capability->device_caps = fake_is_metadata(settings)       ? V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING
                                      : !fake_captures_video(settings) ? V4L2_CAP_VIDEO_OUTPUT | V4L2_CAP_STREAMING
                                                                       : V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
            capability->capabilities = capability->device_caps | V4L2_CAP_DEVICE_CAPS;
            return 0;
        }
        case VIDIOC_ENUM_FMT: {
            auto* description = static_cast<v4l2_fmtdesc*>(argument);
            auto formats = fake_formats(settings);
            if (description->type != V4L2_BUF_TYPE_VIDEO_CAPTURE || description->index >= formats.size()) {
                return -EINVAL;
            }
            const std::string& name = formats[description->index];
            description->pixelformat = fourcc_code(name);
            description->flags = name == "MJPG" || name == "H264" ? V4L2_FMT_FLAG_COMPRESSED : 0;
            copy_text(description->description, sizeof description->description, name);
            return 0;
        }
        case VIDIOC_ENUM_FRAMESIZES: {
            auto* size = static_cast<v4l2_frmsizeenum*>(argument);
            std::uint32_t index = 0;
            for (const auto& mode : fake_modes(settings)) {
                if (fourcc_code(mode.fourcc) != size->pixel_format) continue;
                if (index++ != size->index) continue;
                auto side = [](int value) { return static_cast<std::uint32_t>(value); };
                if (mode.step > 0) {
                    size->type = V4L2_FRMSIZE_TYPE_STEPWISE;
                    size->stepwise = {side(mode.smallest.width),  side(mode.size.width),  side(mode.step),
                                      side(mode.smallest.height), side(mode.size.height), side(mode.step)};
                    return 0;
                }
                size->type = V4L2_FRMSIZE_TYPE_DISCRETE;
                size->discrete.width = side(mode.size.width);
                size->discrete.height = side(mode.size.height);
                return 0;
            }
            return -EINVAL;
        }
        case VIDIOC_ENUM_FRAMEINTERVALS:
        case VIDIOC_G_PARM:
        case VIDIOC_S_PARM:
            return rate_call(file, *node, request, argument);
        case VIDIOC_QUERYCTRL:
        case VIDIOC_QUERYMENU:
        case VIDIOC_G_CTRL:
        case VIDIOC_S_CTRL:
            return control_call(*node, request, argument);
        case VIDIOC_S_FMT:
        case VIDIOC_G_FMT:
            return format_call(file, *node, fd, request, argument);
        default:
            return buffer_call(file, *node, fd, request, argument);
    }
}

int FakeVideoDevices::control_call(Node& node, unsigned long request, void* argument) {
    FakeWebcam& camera = *node.camera;
    auto now = std::chrono::steady_clock::now();
    if (request == VIDIOC_QUERYMENU) {
        auto* item = static_cast<v4l2_querymenu*>(argument);
        const FakeControl* control = camera.control(key_of(item->id));
        if (!control || control->menu.empty()) return -EINVAL;
        const auto& offered = control->menu;
        if (std::find(offered.begin(), offered.end(), static_cast<int>(item->index)) == offered.end()) return -EINVAL;
        copy_text(item->name, sizeof item->name, "entry " + std::to_string(item->index));
        return 0;
    }
    if (request == VIDIOC_QUERYCTRL) {
        auto* query = static_cast<v4l2_queryctrl*>(argument);
        const FakeControl* control = camera.control(key_of(query->id));
        if (!control) return -EINVAL;
        query->type = v4l2_type(control->type);
        copy_text(query->name, sizeof query->name, control->name);
        query->minimum = control->min;
        query->maximum = control->max;
        query->step = control->step;
        query->default_value = control->value;
        query->flags = 0;
        if (control->disabled) query->flags |= V4L2_CTRL_FLAG_DISABLED;
        if (control->read_only) query->flags |= V4L2_CTRL_FLAG_READ_ONLY | V4L2_CTRL_FLAG_VOLATILE;
        // uvcvideo flags a control inactive while its master is not manual.
        if (camera.inactive(*control)) query->flags |= V4L2_CTRL_FLAG_INACTIVE;
        return 0;
    }
    auto* value = static_cast<v4l2_control*>(argument);
    std::string key = key_of(value->id);
    const FakeControl* control = camera.control(key);
    if (!control) return -EINVAL;
    if (request == VIDIOC_G_CTRL) {
        value->value = camera.value_of(*control, now);
        return 0;
    }
    int set = value->value;
    switch (camera.set_control(key, set, now)) {
        case FakeRefusal::none:
            break;
        case FakeRefusal::unknown:
        case FakeRefusal::disabled:
        case FakeRefusal::not_offered:
            return -EINVAL;
        case FakeRefusal::read_only:
        case FakeRefusal::automatic:
            // uvc_ctrl_is_accessible: a control without SET_CUR, or one
            // whose master control is not at its manual value; the
            // camera's own "wrong state" answer gives the same.
            return -EACCES;
        case FakeRefusal::out_of_range:
            return -ERANGE;  // a menu entry beyond the menu (uvc_ctrl_clamp)
    }
    value->value = set;
    log(camera.settings().number, "set " + key + "=" + std::to_string(set));
    return 0;
}

int FakeVideoDevices::format_call(OpenFile& file, Node& node, int fd, unsigned long request, void* argument) {
    auto* format = static_cast<v4l2_format*>(argument);
    if (format->type != V4L2_BUF_TYPE_VIDEO_CAPTURE) return -EINVAL;
    const FakeNodeSettings& settings = node.camera->settings();
    auto modes = fake_modes(settings);
    if (modes.empty()) return -EINVAL;
    if (request == VIDIOC_S_FMT) {
        // Like drivers, an unknown format becomes the first, and the size
        // the nearest offered.
        std::string fourcc = fourcc_name(format->fmt.pix.pixelformat);
        auto formats = fake_formats(settings);
        if (std::find(formats.begin(), formats.end(), fourcc) == formats.end()) fourcc = formats.front();
        FrameSize asked{static_cast<int>(format->fmt.pix.width), static_cast<int>(format->fmt.pix.height)};
        FrameSize chosen;
        const FakeMode* mode = fake_mode_for(modes, fourcc, asked, chosen);
        // uvc_ioctl_s_fmt: EBUSY while the queue has buffers (vb2_is_busy),
        // whoever allocated them; another program holding the camera has.
        if (settings.busy || node.owner != -1 || file.streaming) return -EBUSY;
        (void)fd;
        file.fourcc = fourcc;
        file.size = chosen;
        file.rate = mode->default_rate;
    }
    if (file.fourcc.empty()) {
        file.fourcc = modes.front().fourcc;
        file.size = modes.front().size;
        file.rate = modes.front().default_rate;
    }
    auto& pix = format->fmt.pix;
    pix.width = static_cast<std::uint32_t>(file.size.width);
    pix.height = static_cast<std::uint32_t>(file.size.height);
    pix.pixelformat = fourcc_code(file.fourcc);
    pix.field = V4L2_FIELD_NONE;
    pix.bytesperline = bytes_per_line(file.fourcc, file.size);
    pix.sizeimage = static_cast<std::uint32_t>(frame_bytes(file.fourcc, file.size));
    pix.colorspace = V4L2_COLORSPACE_SRGB;
    pix.quantization = file.fourcc == "GREY" ? V4L2_QUANTIZATION_FULL_RANGE : V4L2_QUANTIZATION_DEFAULT;
    return 0;
}

int FakeVideoDevices::rate_call(OpenFile& file, Node& node, unsigned long request, void* argument) {
    const FakeNodeSettings& settings = node.camera->settings();
    auto modes = fake_modes(settings);
    if (request == VIDIOC_ENUM_FRAMEINTERVALS) {
        auto* interval = static_cast<v4l2_frmivalenum*>(argument);
        FrameSize asked{static_cast<int>(interval->width), static_cast<int>(interval->height)}, chosen;
        const FakeMode* mode = fake_mode_for(modes, fourcc_name(interval->pixel_format), asked, chosen);
        if (!mode || !(chosen == asked) || interval->index >= mode->rates.size()) return -EINVAL;
        interval->type = V4L2_FRMIVAL_TYPE_DISCRETE;
        interval->discrete = {1, static_cast<std::uint32_t>(mode->rates[interval->index])};
        return 0;
    }
    auto* parameters = static_cast<v4l2_streamparm*>(argument);
    if (parameters->type != V4L2_BUF_TYPE_VIDEO_CAPTURE) return -EINVAL;
    if (file.fourcc.empty()) {
        file.fourcc = modes.empty() ? "" : modes.front().fourcc;
        file.size = modes.empty() ? FrameSize{} : modes.front().size;
        file.rate = modes.empty() ? 30 : modes.front().default_rate;
    }
    auto& capture = parameters->parm.capture;
    if (request == VIDIOC_S_PARM) {
        // uvc_ioctl_s_parm: not while streaming; the offered interval
        // nearest the asked one.
        if (file.streaming) return -EBUSY;
        FrameSize chosen;
        const FakeMode* mode = fake_mode_for(modes, file.fourcc, file.size, chosen);
        if (mode && capture.timeperframe.numerator > 0 && capture.timeperframe.denominator > 0) {
            double asked = static_cast<double>(capture.timeperframe.denominator) / capture.timeperframe.numerator;
            file.rate = *std::min_element(mode->rates.begin(), mode->rates.end(),
                                          [&](int a, int b) { return std::abs(a - asked) < std::abs(b - asked); });
        }
        log(settings.number, "rate " + std::to_string(file.rate));
    }
    std::memset(&capture, 0, sizeof capture);
    capture.capability = V4L2_CAP_TIMEPERFRAME;
    capture.timeperframe = {1, static_cast<std::uint32_t>(std::max(1, file.rate))};
    return 0;
}

int FakeVideoDevices::buffer_call(OpenFile& file, Node& node, int fd, unsigned long request, void* argument) {
    auto now = std::chrono::steady_clock::now();
    FakeWebcam& camera = *node.camera;
    const FakeNodeSettings& settings = camera.settings();
    switch (request) {
        case VIDIOC_REQBUFS: {
            auto* request_buffers = static_cast<v4l2_requestbuffers*>(argument);
            if (request_buffers->memory != V4L2_MEMORY_MMAP) return -EINVAL;
            // Another program's buffers, or this one streaming: the queue is busy.
            if (settings.busy || (node.owner != -1 && node.owner != fd) || file.streaming) return -EBUSY;
            file.buffers.clear();
            file.queued.clear();
            file.done.clear();
            if (request_buffers->count == 0) {
                node.owner = -1;
                return 0;
            }
            request_buffers->count = std::min<std::uint32_t>(request_buffers->count, 8);
            file.buffers.assign(request_buffers->count, std::vector<char>(frame_bytes(file.fourcc, file.size)));
            node.owner = fd;
            return 0;
        }
        case VIDIOC_QUERYBUF:
        case VIDIOC_QBUF: {
            auto* buffer = static_cast<v4l2_buffer*>(argument);
            if (buffer->index >= file.buffers.size() || buffer->memory != V4L2_MEMORY_MMAP) return -EINVAL;
            buffer->length = static_cast<std::uint32_t>(file.buffers[buffer->index].size());
            buffer->m.offset = static_cast<std::uint32_t>(buffer->index * buffer_offset_unit);
            if (request == VIDIOC_QBUF) file.queued.push_back(buffer->index);
            return 0;
        }
        case VIDIOC_DQBUF: {
            auto* buffer = static_cast<v4l2_buffer*>(argument);
            advance(file, node, now);
            if (file.lost) return -EIO;  // vb2: the queue is in error state
            if (!file.streaming) return -EINVAL;
            if (file.done.empty()) return -EAGAIN;
            Done done = file.done.front();
            file.done.pop_front();
            const FakeExposure& frame = done.frame;
            bool jpeg = frame.look.fourcc == "MJPG";
            auto& memory = file.buffers[done.index];
            std::size_t used = 0;
            // A frame that arrives empty leaves the buffer as it was: the
            // bytes of whatever frame it held before.
            if (frame.damage != FakeDamage::empty) {
                std::string bytes = render_fake_frame(frame.look, frame.sequence);
                if (jpeg) bytes = spoil_fake_jpeg(bytes, frame.damage);
                used = std::min(memory.size(), bytes.size());
                std::memcpy(memory.data(), bytes.data(), used);
                if (jpeg) {
                    std::size_t padding = std::min(mjpeg_padding, memory.size() - used);
                    std::memset(memory.data() + used, 0, padding);
                    used += padding;
                }
            }
            auto since = frame.exposed.time_since_epoch();
            auto seconds = std::chrono::duration_cast<std::chrono::seconds>(since);
            buffer->index = done.index;
            buffer->bytesused = static_cast<std::uint32_t>(used);
            buffer->length = static_cast<std::uint32_t>(memory.size());
            buffer->flags = V4L2_BUF_FLAG_MAPPED;
            if (!settings.no_timestamps) buffer->flags |= V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC;
            if (frame.damage == FakeDamage::damaged && !jpeg) buffer->flags |= V4L2_BUF_FLAG_ERROR;
            buffer->field = V4L2_FIELD_NONE;
            buffer->sequence = frame.sequence;
            buffer->timestamp = {};
            if (!settings.no_timestamps) {
                buffer->timestamp.tv_sec = seconds.count();
                buffer->timestamp.tv_usec =
                    std::chrono::duration_cast<std::chrono::microseconds>(since - seconds).count();
            }
            log(settings.number, "frame " + std::to_string(frame.sequence));
            return 0;
        }
        case VIDIOC_STREAMON:
            if (settings.busy || node.owner != fd) return -EBUSY;
            if (file.buffers.empty()) return -EINVAL;
            if (!file.streaming) {
                // uvc_video_start_transfer: no alternate setting of the
                // streaming interface carries the mode's bandwidth.
                if (!fake_bandwidth_suffices(settings, file.fourcc, file.size, file.rate)) return -EIO;
                file.streaming = true;
                camera.start(file.fourcc, file.size, file.rate, now);
                log(settings.number, "streamon " + file.fourcc + " " + std::to_string(file.size.width) + "x" +
                                         std::to_string(file.size.height));
            }
            return 0;
        case VIDIOC_STREAMOFF:
            if (file.streaming) {
                log(settings.number, "streamoff");
                camera.stop(now);
            }
            file.streaming = false;
            file.queued.clear();
            file.done.clear();
            return 0;
        default:
            return -ENOTTY;
    }
}
