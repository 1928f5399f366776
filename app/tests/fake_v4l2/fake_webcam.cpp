#include "fake_webcam.h"

#include "imaging/jpeg.h"
#include "imaging/test_scene.h"

#include <linux/videodev2.h>

#include <algorithm>
#include <cmath>
#include <deque>
#include <map>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <tuple>

std::vector<FakeNodeSettings> parse_fake_nodes(const std::string& text) {
    std::vector<FakeNodeSettings> nodes;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream words(line);
        std::string node;
        if (!(words >> node) || node[0] == '#') continue;
        if (node.rfind("video", 0) != 0) throw std::invalid_argument("not a video node: " + line);
        FakeNodeSettings settings;
        settings.number = std::stoi(node.substr(5));
        if (!(words >> settings.model)) throw std::invalid_argument("no model: " + line);
        for (std::string word; words >> word;) {
            auto eq = word.find('=');
            std::string key = word.substr(0, eq), value = eq == std::string::npos ? "" : word.substr(eq + 1);
            if (key == "busy") {
                settings.busy = true;
            } else if (key == "denied") {
                settings.denied = true;
            } else if (key == "bus") {
                settings.bus = value;
            } else if (key == "card") {
                std::replace(value.begin(), value.end(), '_', ' ');
                settings.card = value;
            } else if (key == "fps") {
                settings.fps = std::stoi(value);
            } else if (key == "focus-at") {
                settings.focus_at = std::stoi(value);
            } else if (key == "dark-frames") {
                settings.dark_frames = std::stoi(value);
            } else if (key == "unplug-after") {
                settings.unplug_after = std::stoi(value);
            } else if (key == "stall-after") {
                settings.stall_after = std::stoi(value);
            } else if (key == "damaged-every") {
                settings.damaged_every = std::stoi(value);
            } else if (key == "no-timestamps") {
                settings.no_timestamps = true;
            } else if (key == "plugged") {
                settings.plugged = std::stoi(value);
            } else {
                throw std::invalid_argument("unknown setting " + word + ": " + line);
            }
        }
        if (settings.bus.empty()) settings.bus = "usb-fake-" + std::to_string(settings.number);
        nodes.push_back(settings);
    }
    return nodes;
}

std::uint32_t fake_capabilities(const FakeNodeSettings& settings) {
    if (settings.model == "metadata") return V4L2_CAP_META_CAPTURE | V4L2_CAP_STREAMING;
    if (settings.model == "output") return V4L2_CAP_VIDEO_OUTPUT | V4L2_CAP_STREAMING;
    return V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_STREAMING;
}

std::string fake_card(const FakeNodeSettings& settings) {
    if (!settings.card.empty()) return settings.card;
    if (settings.model == "fixed") return "Fake Fixed-Focus Camera";
    if (settings.model == "h264") return "Fake H.264 Camera";
    if (settings.model == "output") return "Fake Video Output";
    return "Fake HD Webcam";  // the webcam and its metadata node
}

std::vector<FakeFormat> fake_formats(const FakeNodeSettings& settings) {
    if (settings.model == "webcam") {
        return {{V4L2_PIX_FMT_MJPEG, {{640, 480}, {1280, 720}, {1920, 1080}}},
                {V4L2_PIX_FMT_YUYV, {{640, 480}, {1280, 720}}}};
    }
    if (settings.model == "fixed") {
        return {{V4L2_PIX_FMT_YUYV, {{160, 120}, {640, 480}}, 16}, {V4L2_PIX_FMT_NV12, {{1280, 720}}}};
    }
    if (settings.model == "h264") return {{V4L2_PIX_FMT_H264, {{1920, 1080}}}};
    return {};
}

std::vector<FakeControl> fake_controls(const FakeNodeSettings& settings) {
    if (settings.model != "webcam" && settings.model != "fixed") return {};
    const std::uint32_t integer = V4L2_CTRL_TYPE_INTEGER, boolean = V4L2_CTRL_TYPE_BOOLEAN, menu = V4L2_CTRL_TYPE_MENU;
    auto control = [](std::uint32_t id, std::uint32_t type, const char* name, int min, int max, int step, int value,
                      std::uint32_t flags = 0, std::uint32_t ruled_by = 0, std::vector<int> menu_indexes = {}) {
        FakeControl c;
        c.id = id;
        c.type = type;
        c.name = name;
        c.min = min;
        c.max = max;
        c.step = step;
        c.value = value;
        c.flags = flags;
        c.ruled_by = ruled_by;
        c.menu_indexes = std::move(menu_indexes);
        return c;
    };
    std::vector<FakeControl> controls = {
        control(V4L2_CID_BRIGHTNESS, integer, "Brightness", 0, 255, 1, 128),
        control(V4L2_CID_CONTRAST, integer, "Contrast", 0, 255, 1, 128),
        control(V4L2_CID_EXPOSURE_AUTO, menu, "Auto Exposure", 0, 3, 1, V4L2_EXPOSURE_APERTURE_PRIORITY, 0, 0,
                {V4L2_EXPOSURE_MANUAL, V4L2_EXPOSURE_APERTURE_PRIORITY}),
        control(V4L2_CID_EXPOSURE_ABSOLUTE, integer, "Exposure (Absolute)", 3, 2047, 1, 250, V4L2_CTRL_FLAG_INACTIVE,
                V4L2_CID_EXPOSURE_AUTO),
    };
    if (settings.model == "fixed") return controls;
    std::vector<FakeControl> more = {
        control(V4L2_CID_SATURATION, integer, "Saturation", 0, 255, 1, 128),
        control(V4L2_CID_GAIN, integer, "Gain", 0, 255, 1, 0),
        control(V4L2_CID_AUTO_WHITE_BALANCE, boolean, "White Balance, Auto", 0, 1, 1, 1),
        control(V4L2_CID_WHITE_BALANCE_TEMPERATURE, integer, "White Balance Temperature", 2000, 6500, 1, 4000,
                V4L2_CTRL_FLAG_INACTIVE, V4L2_CID_AUTO_WHITE_BALANCE),
        // Inactive under an automatic mode the app does not manage: not offered.
        control(V4L2_CID_HUE_AUTO, boolean, "Hue, Auto", 0, 1, 1, 1),
        control(V4L2_CID_HUE, integer, "Hue", -180, 180, 1, 0, V4L2_CTRL_FLAG_INACTIVE, V4L2_CID_HUE_AUTO),
        // Disabled by the driver: not offered.
        control(V4L2_CID_PAN_ABSOLUTE, integer, "Pan (Absolute)", -36000, 36000, 3600, 0, V4L2_CTRL_FLAG_DISABLED),
        control(V4L2_CID_FOCUS_AUTO, boolean, "Focus, Automatic Continuous", 0, 1, 1, 1),
        control(V4L2_CID_FOCUS_ABSOLUTE, integer, "Focus (absolute)", 0, 250, 5, 0, V4L2_CTRL_FLAG_INACTIVE,
                V4L2_CID_FOCUS_AUTO),
        control(V4L2_CID_ZOOM_ABSOLUTE, integer, "Zoom, Absolute", 100, 500, 1, 100),
        control(V4L2_CID_POWER_LINE_FREQUENCY, menu, "Power Line Frequency", 0, 2, 1, 1, 0, 0, {0, 1, 2}),
    };
    controls.insert(controls.end(), more.begin(), more.end());
    return controls;
}

namespace {
// The sharp scene at one size and zoom, drawn once: drawing it costs more
// than a frame period.
const Image& scene(FrameSize size, double zoom) {
    static std::mutex mutex;
    static std::map<std::tuple<int, int, int>, Image> drawn;
    std::lock_guard lock(mutex);
    auto key = std::make_tuple(size.width, size.height, static_cast<int>(zoom * 100));
    auto it = drawn.find(key);
    if (it == drawn.end()) it = drawn.emplace(key, render_test_scene(size.width, size.height, zoom, {"", ""})).first;
    return it->second;
}

// Box blurs of `radius`, the edges repeating the nearest pixel: along each
// row, then down the columns with one running sum per column, both in the
// order the bytes lie in memory (a frame must cost less than its period).
void blur_rows(Image& image, int radius) {
    const int w = image.width, window = 2 * radius + 1;
    std::vector<std::uint8_t> line(static_cast<std::size_t>(w) * 3);
    for (int y = 0; y < image.height; ++y) {
        std::uint8_t* row = &image.rgb[static_cast<std::size_t>(y) * w * 3];
        std::copy(row, row + line.size(), line.begin());
        for (int c = 0; c < 3; ++c) {
            auto at = [&](int x) { return static_cast<int>(line[std::clamp(x, 0, w - 1) * 3 + c]); };
            int sum = 0;
            for (int x = -radius; x <= radius; ++x) sum += at(x);
            for (int x = 0; x < w; ++x) {
                row[x * 3 + c] = static_cast<std::uint8_t>(sum / window);
                sum += at(x + radius + 1) - at(x - radius);
            }
        }
    }
}

void blur_columns(Image& image, int radius) {
    const int h = image.height, window = 2 * radius + 1;
    const std::size_t stride = static_cast<std::size_t>(image.width) * 3;
    thread_local std::vector<std::uint8_t> source;
    source.assign(image.rgb.begin(), image.rgb.end());
    auto row = [&](int y) { return &source[static_cast<std::size_t>(std::clamp(y, 0, h - 1)) * stride]; };
    std::vector<int> sums(stride, 0);
    for (int y = -radius; y <= radius; ++y) {
        const std::uint8_t* r = row(y);
        for (std::size_t i = 0; i < stride; ++i) sums[i] += r[i];
    }
    for (int y = 0; y < h; ++y) {
        std::uint8_t* out = &image.rgb[static_cast<std::size_t>(y) * stride];
        const std::uint8_t* enter = row(y + radius + 1);
        const std::uint8_t* leave = row(y - radius);
        for (std::size_t i = 0; i < stride; ++i) {
            out[i] = static_cast<std::uint8_t>(sums[i] / window);
            sums[i] += enter[i] - leave[i];
        }
    }
}

// Into the same memory every time: fresh pages for each frame cost as much
// as the drawing.
const Image& picture(const FakeLook& look) {
    thread_local Image image;
    const Image& sharp = scene(look.size, look.zoom);
    image.width = sharp.width;
    image.height = sharp.height;
    image.rgb.assign(sharp.rgb.begin(), sharp.rgb.end());
    // Two box passes each way: close enough to a lens's blur.
    for (int pass = 0; pass < 2 && look.blur > 0; ++pass) {
        blur_rows(image, look.blur);
        blur_columns(image, look.blur);
    }
    std::uint8_t levels[256];
    for (int v = 0; v < 256; ++v) {
        levels[v] =
            static_cast<std::uint8_t>(std::clamp(static_cast<int>(std::lround(v * look.gain)) + look.offset, 0, 255));
    }
    for (auto& v : image.rgb) v = levels[v];
    return image;
}

// BT.601 in studio range, as webcams send it.
void to_yuv(std::uint8_t r, std::uint8_t g, std::uint8_t b, int& y, int& u, int& v) {
    y = 16 + (66 * r + 129 * g + 25 * b + 128) / 256;
    u = 128 + (-38 * r - 74 * g + 112 * b + 128) / 256;
    v = 128 + (112 * r - 94 * g - 18 * b + 128) / 256;
}

std::string yuyv(const Image& image) {
    std::string out(static_cast<std::size_t>(image.width) * image.height * 2, '\0');
    for (std::size_t i = 0, o = 0; i < image.rgb.size(); i += 6, o += 4) {
        int y0, u0, v0, y1, u1, v1;
        to_yuv(image.rgb[i], image.rgb[i + 1], image.rgb[i + 2], y0, u0, v0);
        to_yuv(image.rgb[i + 3], image.rgb[i + 4], image.rgb[i + 5], y1, u1, v1);
        out[o] = static_cast<char>(y0);
        out[o + 1] = static_cast<char>((u0 + u1) / 2);
        out[o + 2] = static_cast<char>(y1);
        out[o + 3] = static_cast<char>((v0 + v1) / 2);
    }
    return out;
}

std::string nv12(const Image& image) {
    const std::size_t w = static_cast<std::size_t>(image.width), h = static_cast<std::size_t>(image.height);
    std::string out(w * h * 3 / 2, '\0');
    for (std::size_t row = 0; row < h; ++row) {
        for (std::size_t x = 0; x < w; ++x) {
            const std::uint8_t* p = &image.rgb[(row * w + x) * 3];
            int y, u, v;
            to_yuv(p[0], p[1], p[2], y, u, v);
            out[row * w + x] = static_cast<char>(y);
            if (row % 2 == 0 && x % 2 == 0) {
                out[w * h + (row / 2) * w + x] = static_cast<char>(u);
                out[w * h + (row / 2) * w + x + 1] = static_cast<char>(v);
            }
        }
    }
    return out;
}

// The JPEG as many webcams send it: no DHT segment (the decoder is meant to
// know the standard tables).
std::string mjpeg_without_tables(const Image& image) {
    std::string jpeg = encode_jpeg(image, 85);
    std::string out = jpeg.substr(0, 2);
    std::size_t pos = 2;
    while (pos + 4 <= jpeg.size() && static_cast<std::uint8_t>(jpeg[pos]) == 0xFF) {
        auto marker = static_cast<std::uint8_t>(jpeg[pos + 1]);
        if (marker == 0xDA) break;
        std::size_t length = (static_cast<std::uint8_t>(jpeg[pos + 2]) << 8) | static_cast<std::uint8_t>(jpeg[pos + 3]);
        if (marker != 0xC4) out += jpeg.substr(pos, 2 + length);
        pos += 2 + length;
    }
    out += jpeg.substr(pos);
    return out;
}

// A comment segment naming the frame, right after the start of image.
std::string with_comment(const std::string& jpeg, std::uint32_t sequence) {
    std::string comment = "fake frame " + std::to_string(sequence);
    std::string segment = "\xFF\xFE";
    segment += static_cast<char>((comment.size() + 2) >> 8);
    segment += static_cast<char>((comment.size() + 2) & 0xFF);
    segment += comment;
    return jpeg.substr(0, 2) + segment + jpeg.substr(2);
}

std::string render(const FakeLook& look) {
    std::size_t pixels = static_cast<std::size_t>(look.size.width) * look.size.height;
    if (look.green) {
        // All zeros: black luma, and chroma that reads as deep green.
        return std::string(look.fourcc == V4L2_PIX_FMT_NV12 ? pixels * 3 / 2 : pixels * 2, '\0');
    }
    const Image& image = picture(look);
    if (look.fourcc == V4L2_PIX_FMT_YUYV) return yuyv(image);
    if (look.fourcc == V4L2_PIX_FMT_NV12) return nv12(image);
    return mjpeg_without_tables(image);
}
}  // namespace

std::string render_fake_frame(const FakeLook& look, std::uint32_t sequence) {
    // Frames repeat their look (a still scene, a lens at rest), and drawing
    // one costs more than a frame period: the last few are kept.
    static std::mutex mutex;
    static std::deque<std::pair<FakeLook, std::string>> recent;
    std::string bytes;
    {
        std::lock_guard lock(mutex);
        for (const auto& [seen, rendered] : recent) {
            if (seen == look) bytes = rendered;
        }
    }
    if (bytes.empty()) {
        bytes = render(look);
        std::lock_guard lock(mutex);
        recent.emplace_back(look, bytes);
        if (recent.size() > 6) recent.pop_front();
    }
    return look.fourcc == V4L2_PIX_FMT_MJPEG ? with_comment(bytes, sequence) : bytes;
}
