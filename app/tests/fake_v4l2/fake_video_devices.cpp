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

std::string fourcc_name(std::uint32_t fourcc) {
    std::string name;
    for (int shift = 0; shift < 32; shift += 8) name += static_cast<char>((fourcc >> shift) & 0xFF);
    return name;
}

void copy_text(__u8* field, std::size_t size, const std::string& text) {
    std::memset(field, 0, size);
    std::memcpy(field, text.data(), std::min(size - 1, text.size()));
}

bool automatic_on(const FakeControl& control) {
    if (control.id == V4L2_CID_EXPOSURE_AUTO) return control.value != V4L2_EXPOSURE_MANUAL;
    return control.value != 0;
}

FakeControl* find(std::vector<FakeControl>& controls, std::uint32_t id) {
    for (auto& control : controls) {
        if (control.id == id) return &control;
    }
    return nullptr;
}

// The names v4l2-ctl gives the controls, for the event log.
std::string control_key(std::uint32_t id) {
    switch (id) {
        case V4L2_CID_FOCUS_ABSOLUTE:
            return "focus_absolute";
        case V4L2_CID_FOCUS_AUTO:
            return "focus_auto";
        case V4L2_CID_EXPOSURE_ABSOLUTE:
            return "exposure_absolute";
        case V4L2_CID_EXPOSURE_AUTO:
            return "exposure_auto";
        case V4L2_CID_WHITE_BALANCE_TEMPERATURE:
            return "white_balance_temperature";
        case V4L2_CID_AUTO_WHITE_BALANCE:
            return "white_balance_temperature_auto";
        case V4L2_CID_BRIGHTNESS:
            return "brightness";
        case V4L2_CID_ZOOM_ABSOLUTE:
            return "zoom_absolute";
        default:
            return "control " + std::to_string(id);
    }
}

std::size_t frame_bytes(std::uint32_t fourcc, FrameSize size) {
    std::size_t pixels = static_cast<std::size_t>(size.width) * size.height;
    if (fourcc == V4L2_PIX_FMT_NV12) return pixels * 3 / 2;
    return pixels * 2;  // YUYV, and room enough for any JPEG of it
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
    std::vector<FakeNodeSettings> all_settings = parse_fake_nodes(text.str());
    std::map<int, Node> nodes;
    for (const auto& settings : all_settings) {
        auto known = nodes_.find(settings.number);
        if (known != nodes_.end() && known->second.settings == settings) {
            nodes.emplace(settings.number, std::move(known->second));
            continue;
        }
        Node node;
        node.settings = settings;
        node.generation = ++generations_;
        node.controls = fake_controls(settings);
        node.lens_from = node.lens_to = settings.focus_at;
        nodes.emplace(settings.number, std::move(node));
    }
    for (auto& [number, node] : nodes_) {
        if (!nodes.count(number)) log(number, "unplugged");
    }
    nodes_ = std::move(nodes);
}

std::pair<FakeVideoDevices::OpenFile*, FakeVideoDevices::Node*> FakeVideoDevices::opened(int fd) {
    sync_with_file();
    auto file = files_.find(fd);
    if (file == files_.end()) return {nullptr, nullptr};
    auto node = nodes_.find(file->second.node);
    // A node replaced since the descriptor was opened is another device.
    if (node == nodes_.end() || node->second.unplugged || node->second.generation != file->second.generation) {
        return {&file->second, nullptr};
    }
    return {&file->second, &node->second};
}

std::chrono::nanoseconds FakeVideoDevices::frame_period(const Node& node) const {
    return std::chrono::nanoseconds(1'000'000'000LL / std::max(1, node.settings.fps));
}

int FakeVideoDevices::lens_at(const Node& node, Time when) const {
    for (const auto& control : node.controls) {
        if (control.id == V4L2_CID_FOCUS_AUTO && control.value != 0) return node.settings.focus_at;
    }
    // The motor needs a frame period to get there.
    return when < node.lens_moved + frame_period(node) ? node.lens_from : node.lens_to;
}

FakeLook FakeVideoDevices::look_at(const Node& node, const OpenFile& file, Time when) const {
    FakeLook look;
    look.fourcc = file.fourcc;
    look.size = file.size;
    auto value = [&](std::uint32_t id, int otherwise) {
        for (const auto& control : node.controls) {
            if (control.id == id) return control.value;
        }
        return otherwise;
    };
    if (node.settings.model == "webcam") {
        // One pixel of blur per focus step (5) away, at 1280 pixels across.
        double steps = std::abs(lens_at(node, when) - node.settings.focus_at) / 5.0;
        look.blur = static_cast<int>(std::lround(steps * file.size.width / 1280.0));
    }
    look.gain = value(V4L2_CID_EXPOSURE_AUTO, V4L2_EXPOSURE_MANUAL) == V4L2_EXPOSURE_MANUAL
                    ? value(V4L2_CID_EXPOSURE_ABSOLUTE, 250) / 250.0
                    : 1.0;
    int k = file.stream_frames;
    if (k < node.settings.dark_frames) look.gain *= 0.1 + 0.9 * k / node.settings.dark_frames;
    look.green = k == 0 && node.settings.dark_frames > 0 && file.fourcc != V4L2_PIX_FMT_MJPEG;
    look.offset = (value(V4L2_CID_BRIGHTNESS, 128) - 128) / 2;
    look.zoom = value(V4L2_CID_ZOOM_ABSOLUTE, 100) / 100.0;
    return look;
}

void FakeVideoDevices::advance(OpenFile& file, Node& node, Time now) {
    if (!file.streaming) return;
    while (file.next_frame <= now && !node.unplugged) {
        if (node.settings.stall_after >= 0 && file.stream_frames >= node.settings.stall_after) return;
        // A frame is exposed whether or not a buffer waits for it.
        if (!file.queued.empty()) {
            file.done.push_back(
                {file.queued.front(), file.sequence, file.next_frame, look_at(node, file, file.next_frame)});
            file.queued.pop_front();
            if (++node.frames_delivered == node.settings.unplug_after) {
                node.unplugged = true;
                log(file.node, "unplugged");
            }
        }
        ++file.sequence;
        ++file.stream_frames;
        file.next_frame += frame_period(node);
    }
}

std::vector<std::string> FakeVideoDevices::list_nodes() {
    std::lock_guard lock(mutex_);
    sync_with_file();
    std::vector<std::string> paths;
    for (const auto& [number, node] : nodes_) {
        if (!node.unplugged) paths.push_back("/dev/video" + std::to_string(number));
    }
    return paths;
}

int FakeVideoDevices::open(const std::string& path) {
    std::lock_guard lock(mutex_);
    sync_with_file();
    if (path.rfind("/dev/video", 0) != 0) return -ENOENT;
    int number = std::atoi(path.c_str() + 10);
    auto it = nodes_.find(number);
    if (it == nodes_.end() || it->second.unplugged) return -ENOENT;
    if (it->second.settings.denied) return -EACCES;
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
    auto node = nodes_.find(it->second.node);
    if (node != nodes_.end() && node->second.owner == fd) node->second.owner = -1;
    if (it->second.streaming) log(it->second.node, "streamoff");
    log(it->second.node, "close");
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
            OpenFile& file = *open_file;
            if (!node || !file.streaming) return -EIO;
            auto now = std::chrono::steady_clock::now();
            advance(file, *node, now);
            if (node->unplugged) return -EIO;
            if (!file.done.empty()) return 1;
            if (now >= deadline) return 0;
            bool stalled = node->settings.stall_after >= 0 && file.stream_frames >= node->settings.stall_after;
            wake = stalled || file.queued.empty() ? deadline : std::min(file.next_frame, deadline);
        }
        std::this_thread::sleep_until(wake);
    }
}

int FakeVideoDevices::ioctl(int fd, unsigned long request, void* argument) {
    std::lock_guard lock(mutex_);
    auto [open_file, node] = opened(fd);
    if (!open_file) return -EBADF;
    if (!node) return -ENODEV;
    OpenFile& file = *open_file;
    const FakeNodeSettings& settings = node->settings;

    switch (request) {
        case VIDIOC_QUERYCAP: {
            auto* capability = static_cast<v4l2_capability*>(argument);
            std::memset(capability, 0, sizeof *capability);
            copy_text(capability->driver, sizeof capability->driver, "fake-uvc");
            copy_text(capability->card, sizeof capability->card, fake_card(settings));
            copy_text(capability->bus_info, sizeof capability->bus_info, settings.bus);
            capability->device_caps = fake_capabilities(settings);
            capability->capabilities = capability->device_caps | V4L2_CAP_DEVICE_CAPS;
            return 0;
        }
        case VIDIOC_ENUM_FMT: {
            auto* description = static_cast<v4l2_fmtdesc*>(argument);
            auto formats = fake_formats(settings);
            if (description->type != V4L2_BUF_TYPE_VIDEO_CAPTURE || description->index >= formats.size()) {
                return -EINVAL;
            }
            description->pixelformat = formats[description->index].fourcc;
            copy_text(description->description, sizeof description->description, fourcc_name(description->pixelformat));
            return 0;
        }
        case VIDIOC_ENUM_FRAMESIZES: {
            auto* size = static_cast<v4l2_frmsizeenum*>(argument);
            for (const auto& format : fake_formats(settings)) {
                if (format.fourcc != size->pixel_format) continue;
                if (format.step > 0) {
                    if (size->index > 0) return -EINVAL;
                    size->type = V4L2_FRMSIZE_TYPE_STEPWISE;
                    auto side = [](int value) { return static_cast<std::uint32_t>(value); };
                    size->stepwise = {side(format.sizes[0].width),  side(format.sizes[1].width),  side(format.step),
                                      side(format.sizes[0].height), side(format.sizes[1].height), side(format.step)};
                    return 0;
                }
                if (size->index >= format.sizes.size()) return -EINVAL;
                size->type = V4L2_FRMSIZE_TYPE_DISCRETE;
                size->discrete.width = static_cast<std::uint32_t>(format.sizes[size->index].width);
                size->discrete.height = static_cast<std::uint32_t>(format.sizes[size->index].height);
                return 0;
            }
            return -EINVAL;
        }
        case VIDIOC_G_PARM: {
            auto* parameters = static_cast<v4l2_streamparm*>(argument);
            parameters->parm.capture.timeperframe = {1, static_cast<std::uint32_t>(settings.fps)};
            return 0;
        }
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
    if (request == VIDIOC_QUERYMENU) {
        auto* item = static_cast<v4l2_querymenu*>(argument);
        FakeControl* control = find(node.controls, item->id);
        if (!control || control->menu_indexes.empty()) return -EINVAL;
        const auto& offered = control->menu_indexes;
        if (std::find(offered.begin(), offered.end(), static_cast<int>(item->index)) == offered.end()) return -EINVAL;
        copy_text(item->name, sizeof item->name, "entry " + std::to_string(item->index));
        return 0;
    }
    if (request == VIDIOC_QUERYCTRL) {
        auto* query = static_cast<v4l2_queryctrl*>(argument);
        FakeControl* control = find(node.controls, query->id);
        if (!control) return -EINVAL;
        query->type = control->type;
        copy_text(query->name, sizeof query->name, control->name);
        query->minimum = control->min;
        query->maximum = control->max;
        query->step = control->step;
        query->default_value = control->value;
        query->flags = control->flags & ~V4L2_CTRL_FLAG_INACTIVE;
        FakeControl* ruler = control->ruled_by ? find(node.controls, control->ruled_by) : nullptr;
        if (ruler && automatic_on(*ruler)) query->flags |= V4L2_CTRL_FLAG_INACTIVE;
        return 0;
    }
    auto* value = static_cast<v4l2_control*>(argument);
    FakeControl* control = find(node.controls, value->id);
    if (!control || (control->flags & V4L2_CTRL_FLAG_DISABLED)) return -EINVAL;
    if (request == VIDIOC_G_CTRL) {
        // While autofocus runs, the focus control follows it.
        FakeControl* ruler = control->ruled_by ? find(node.controls, control->ruled_by) : nullptr;
        bool autofocus = control->id == V4L2_CID_FOCUS_ABSOLUTE && ruler && automatic_on(*ruler);
        value->value = autofocus ? node.settings.focus_at : control->value;
        return 0;
    }
    // Like many webcams, a control ruled by an automatic mode that is on
    // cannot be set.
    FakeControl* ruler = control->ruled_by ? find(node.controls, control->ruled_by) : nullptr;
    if (ruler && automatic_on(*ruler)) return -EBUSY;
    if (value->value < control->min || value->value > control->max) return -ERANGE;
    if (!control->menu_indexes.empty() && std::find(control->menu_indexes.begin(), control->menu_indexes.end(),
                                                    value->value) == control->menu_indexes.end()) {
        return -EINVAL;
    }
    int set = control->min + (value->value - control->min) / control->step * control->step;
    auto now = std::chrono::steady_clock::now();
    if (control->id == V4L2_CID_FOCUS_ABSOLUTE) {
        node.lens_from = lens_at(node, now);
        node.lens_to = set;
        node.lens_moved = now;
    }
    if (control->id == V4L2_CID_FOCUS_AUTO && set == 0 && control->value != 0) {
        // The lens stays where autofocus left it.
        node.lens_from = node.lens_to = node.settings.focus_at;
        if (FakeControl* focus = find(node.controls, V4L2_CID_FOCUS_ABSOLUTE)) focus->value = node.settings.focus_at;
    }
    control->value = set;
    log(node.settings.number, "set " + control_key(control->id) + "=" + std::to_string(set));
    return 0;
}

int FakeVideoDevices::format_call(OpenFile& file, Node& node, int fd, unsigned long request, void* argument) {
    auto* format = static_cast<v4l2_format*>(argument);
    if (format->type != V4L2_BUF_TYPE_VIDEO_CAPTURE) return -EINVAL;
    auto formats = fake_formats(node.settings);
    if (formats.empty()) return -EINVAL;
    if (request == VIDIOC_S_FMT) {
        if (node.settings.busy || (node.owner != -1 && node.owner != fd)) return -EBUSY;
        if (file.streaming) return -EBUSY;
        // Like drivers, an unknown format becomes the first, and the size
        // the nearest offered.
        const FakeFormat* chosen = &formats.front();
        for (const auto& offered : formats) {
            if (offered.fourcc == format->fmt.pix.pixelformat) chosen = &offered;
        }
        auto distance = [&](FrameSize s) {
            return std::abs(s.width - static_cast<int>(format->fmt.pix.width)) +
                   std::abs(s.height - static_cast<int>(format->fmt.pix.height));
        };
        FrameSize size = *std::min_element(chosen->sizes.begin(), chosen->sizes.end(),
                                           [&](FrameSize a, FrameSize b) { return distance(a) < distance(b); });
        if (chosen->step > 0) {
            // Any size in the range, rounded to the step.
            auto fit = [&](std::uint32_t asked, int low, int high) {
                int rounded = (static_cast<int>(asked) + chosen->step / 2) / chosen->step * chosen->step;
                return std::clamp(rounded, low, high);
            };
            size = {fit(format->fmt.pix.width, chosen->sizes[0].width, chosen->sizes[1].width),
                    fit(format->fmt.pix.height, chosen->sizes[0].height, chosen->sizes[1].height)};
        }
        file.fourcc = chosen->fourcc;
        file.size = size;
    }
    if (file.fourcc == 0) {
        file.fourcc = formats.front().fourcc;
        file.size = formats.front().sizes.front();
    }
    auto& pix = format->fmt.pix;
    pix.width = static_cast<std::uint32_t>(file.size.width);
    pix.height = static_cast<std::uint32_t>(file.size.height);
    pix.pixelformat = file.fourcc;
    pix.field = V4L2_FIELD_NONE;
    pix.bytesperline = file.fourcc == V4L2_PIX_FMT_YUYV   ? pix.width * 2
                       : file.fourcc == V4L2_PIX_FMT_NV12 ? pix.width
                                                          : 0;
    pix.sizeimage = static_cast<std::uint32_t>(frame_bytes(file.fourcc, file.size));
    pix.colorspace = V4L2_COLORSPACE_SRGB;
    pix.quantization = V4L2_QUANTIZATION_DEFAULT;
    return 0;
}

int FakeVideoDevices::buffer_call(OpenFile& file, Node& node, int fd, unsigned long request, void* argument) {
    auto now = std::chrono::steady_clock::now();
    switch (request) {
        case VIDIOC_REQBUFS: {
            auto* request_buffers = static_cast<v4l2_requestbuffers*>(argument);
            if (request_buffers->memory != V4L2_MEMORY_MMAP) return -EINVAL;
            if (node.settings.busy || (node.owner != -1 && node.owner != fd) || file.streaming) return -EBUSY;
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
            if (node.unplugged) return -ENODEV;
            if (!file.streaming) return -EINVAL;
            if (file.done.empty()) return -EAGAIN;
            Done frame = file.done.front();
            file.done.pop_front();
            std::string bytes = render_fake_frame(frame.look, frame.sequence);
            bool damaged = node.settings.damaged_every > 0 && frame.sequence % node.settings.damaged_every == 0;
            if (damaged && frame.look.fourcc == V4L2_PIX_FMT_MJPEG) bytes.resize(bytes.size() * 3 / 5);
            auto& memory = file.buffers[frame.index];
            std::size_t used = std::min(memory.size(), bytes.size());
            std::memcpy(memory.data(), bytes.data(), used);
            if (frame.look.fourcc == V4L2_PIX_FMT_MJPEG) {
                std::size_t padding = std::min(mjpeg_padding, memory.size() - used);
                std::memset(memory.data() + used, 0, padding);
                used += padding;
            }
            auto since = frame.exposed.time_since_epoch();
            auto seconds = std::chrono::duration_cast<std::chrono::seconds>(since);
            buffer->index = frame.index;
            buffer->bytesused = static_cast<std::uint32_t>(used);
            buffer->length = static_cast<std::uint32_t>(memory.size());
            buffer->flags = V4L2_BUF_FLAG_MAPPED;
            if (!node.settings.no_timestamps) buffer->flags |= V4L2_BUF_FLAG_TIMESTAMP_MONOTONIC;
            if (damaged && frame.look.fourcc != V4L2_PIX_FMT_MJPEG) buffer->flags |= V4L2_BUF_FLAG_ERROR;
            buffer->field = V4L2_FIELD_NONE;
            buffer->sequence = frame.sequence;
            if (!node.settings.no_timestamps) {
                buffer->timestamp.tv_sec = seconds.count();
                buffer->timestamp.tv_usec =
                    std::chrono::duration_cast<std::chrono::microseconds>(since - seconds).count();
            }
            log(node.settings.number, "frame " + std::to_string(frame.sequence));
            return 0;
        }
        case VIDIOC_STREAMON:
            if (node.settings.busy || node.owner != fd || file.buffers.empty()) return -EBUSY;
            if (!file.streaming) {
                file.streaming = true;
                file.next_frame = now + frame_period(node);
                file.stream_frames = 0;
                log(node.settings.number, "streamon " + fourcc_name(file.fourcc) + " " +
                                              std::to_string(file.size.width) + "x" + std::to_string(file.size.height));
            }
            return 0;
        case VIDIOC_STREAMOFF:
            if (file.streaming) log(node.settings.number, "streamoff");
            file.streaming = false;
            file.queued.clear();
            file.done.clear();
            return 0;
        default:
            return -ENOTTY;
    }
}
