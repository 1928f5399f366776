#pragma once
// What a fake webcam offers and what it films: its formats and sizes, its
// controls (as a UVC webcam has them), and the picture at a given moment.
#include "imaging/camera_frame.h"
#include "imaging/frame_size.h"

#include <cstdint>
#include <string>
#include <vector>

// One node of the fake device set, as one line of its file names it:
//   video0 webcam fps=30 focus-at=120 dark-frames=8 bus=usb-1 card=Front_Camera
//   video1 metadata bus=usb-1
//   video2 webcam busy | denied | unplug-after=20 | stall-after=5 | damaged-every=2
//   video4 webcam no-timestamps plugged=2
// Models: webcam (MJPEG without Huffman tables and YUYV, a focus motor with
// continuous autofocus on), fixed (YUYV in any size from 160x120 to 640x480
// in steps of 16, NV12 at 1280x720, no focus), h264 (nothing readable),
// metadata and output (not video capture).
struct FakeNodeSettings {
    int number = 0;  // of /dev/videoN
    std::string model = "webcam";
    std::string bus;   // default: "usb-fake-N"
    std::string card;  // default: the model's
    int fps = 30;
    int focus_at = 120;          // focus_absolute position where the picture is sharp
    int dark_frames = 8;         // frames at a stream's start before exposure settles
    bool busy = false;           // another program holds it
    bool denied = false;         // the user may not open it
    int unplug_after = -1;       // frames delivered before it is pulled out
    int stall_after = -1;        // frames per stream before it stops sending
    int damaged_every = 0;       // every Nth frame damaged on its way: a JPEG cut short, a YUV frame flagged
    bool no_timestamps = false;  // the driver does not say when a frame was exposed
    int plugged = 1;             // a new number: pulled out and plugged in again

    bool operator==(const FakeNodeSettings&) const = default;
};

// Throws std::invalid_argument naming a line it cannot read.
std::vector<FakeNodeSettings> parse_fake_nodes(const std::string& text);

struct FakeFormat {
    std::uint32_t fourcc = 0;
    std::vector<FrameSize> sizes;
    int step = 0;  // when set: every size from sizes[0] to sizes[1] in this step
};

std::uint32_t fake_capabilities(const FakeNodeSettings& settings);
std::string fake_card(const FakeNodeSettings& settings);
std::vector<FakeFormat> fake_formats(const FakeNodeSettings& settings);

struct FakeControl {
    std::uint32_t id = 0;
    std::uint32_t type = 0;
    std::string name;
    int min = 0, max = 0, step = 1, value = 0;
    std::uint32_t flags = 0;
    std::uint32_t ruled_by = 0;     // the automatic control that makes it inactive while on
    std::vector<int> menu_indexes;  // for menus: the entries offered
};

std::vector<FakeControl> fake_controls(const FakeNodeSettings& settings);

// Everything that decides one frame's picture.
struct FakeLook {
    std::uint32_t fourcc = 0;
    FrameSize size;
    int blur = 0;       // box blur radius in pixels at this size
    double gain = 1.0;  // light reaching the sensor
    int offset = 0;     // brightness control
    double zoom = 1.0;
    bool green = false;  // the all-zero first frame some cameras send

    bool operator==(const FakeLook&) const = default;
};

// The frame's bytes in its format. MJPEG frames lack Huffman tables and
// carry a comment "fake frame N" so that tests can tell the camera's own
// bytes from a re-encoded picture.
std::string render_fake_frame(const FakeLook& look, std::uint32_t sequence);
