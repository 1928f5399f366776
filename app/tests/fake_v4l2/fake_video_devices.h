#pragma once
// A set of fake Video4Linux2 nodes behind the app's device interface, for
// tests on machines without cameras. The nodes behave like UVC webcams:
// several formats and sizes, Motion-JPEG without Huffman tables, dark (and,
// in YUV, green) frames at the start of a stream, frames paced at the
// camera's rate and dropped when the app queues no buffer, a focus motor
// whose picture blurs with the distance from a hidden sharp position and
// that takes a frame to move, continuous autofocus and automatic exposure on
// by default, and on request: held by another program, pulled out after so
// many frames, or silent after so many frames.
//
// The set is a file, one node a line (see FakeNodeSettings), read again at
// every call, so that a test plugs cameras in and out by rewriting it. What
// the app does to the nodes is appended to the file's name + ".log", one
// event a line: "video0 open", "video0 streamon MJPG 1280x720",
// "video0 frame 7", "video0 set focus_absolute=120", "video0 streamoff",
// "video0 close".
#include "cameras/v4l2/video_devices.h"
#include "fake_webcam.h"

#include <chrono>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class FakeVideoDevices final : public VideoDevices {
public:
    explicit FakeVideoDevices(std::string set_file);

    std::vector<std::string> list_nodes() override;
    int open(const std::string& path) override;
    int ioctl(int fd, unsigned long request, void* argument) override;
    void* mmap(int fd, std::size_t length, std::int64_t offset) override;
    void munmap(void* address, std::size_t length) override;
    int poll(int fd, int timeout_ms) override;
    void close(int fd) override;

private:
    using Time = std::chrono::steady_clock::time_point;

    struct Node {
        FakeNodeSettings settings;
        std::vector<FakeControl> controls;
        bool unplugged = false;
        int generation = 0;        // which plugging-in of the node this is
        int frames_delivered = 0;  // over the node's life
        int owner = -1;            // the descriptor holding its buffers
        // The focus motor: where it was and is going, and when it set off.
        int lens_from = 0, lens_to = 0;
        Time lens_moved{};
    };

    struct Done {
        std::uint32_t index = 0;
        std::uint32_t sequence = 0;
        Time exposed{};
        FakeLook look;
    };

    struct OpenFile {
        int node = 0;
        int generation = 0;
        std::uint32_t fourcc = 0;
        FrameSize size;
        std::vector<std::vector<char>> buffers;
        std::deque<std::uint32_t> queued;
        std::deque<Done> done;
        bool streaming = false;
        Time next_frame{};
        std::uint32_t sequence = 0;
        int stream_frames = 0;  // frames exposed since streamon
    };

    // Caller holds mutex_.
    void sync_with_file();
    // The open file of a descriptor (null when there is none) and its node
    // (null when it is gone), after reading the set afresh.
    std::pair<OpenFile*, Node*> opened(int fd);
    void log(int node, const std::string& event);
    std::chrono::nanoseconds frame_period(const Node& node) const;
    int lens_at(const Node& node, Time when) const;
    FakeLook look_at(const Node& node, const OpenFile& file, Time when) const;
    void advance(OpenFile& file, Node& node, Time now);
    int control_call(Node& node, unsigned long request, void* argument);
    int format_call(OpenFile& file, Node& node, int fd, unsigned long request, void* argument);
    int buffer_call(OpenFile& file, Node& node, int fd, unsigned long request, void* argument);

    std::string set_file_;
    std::mutex mutex_;
    std::map<int, Node> nodes_;  // by number
    std::map<int, OpenFile> files_;
    int next_fd_ = 1000;
    int generations_ = 0;
};
