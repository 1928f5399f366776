#pragma once
// A set of fake Video4Linux2 nodes behind the app's device interface, for
// tests on machines without cameras. Each node is a fake webcam
// (tests/fake_webcams/fake_webcam.h) behind the ioctls of the kernel's UVC
// driver, which it imitates where it matters: frames paced at the mode's
// rate and dropped when no buffer is queued; the frame rates offered and
// set; controls clamped to their range and step, and refused with EACCES
// while the automatic mode that rules them is on; VIDIOC_S_FMT refused with
// EBUSY while buffers are allocated; VIDIOC_STREAMON failing with EIO when
// the bus cannot carry the mode; and a camera pulled out first failing its
// queue (VIDIOC_DQBUF and VIDIOC_QBUF give EIO, poll reports an error), then,
// once the node is unregistered, every ioctl giving ENODEV.
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
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

class FakeVideoDevices final : public VideoDevices {
public:
    explicit FakeVideoDevices(std::string set_file);

    std::vector<std::string> list_nodes() override;
    // Grows when the set's file changes or a camera pulls itself out, as
    // /dev's notices do.
    std::optional<std::uint64_t> changes() override;
    int open(const std::string& path) override;
    int ioctl(int fd, unsigned long request, void* argument) override;
    void* mmap(int fd, std::size_t length, std::int64_t offset) override;
    void munmap(void* address, std::size_t length) override;
    int poll(int fd, int timeout_ms) override;
    void close(int fd) override;

private:
    using Time = std::chrono::steady_clock::time_point;

    struct Node {
        std::unique_ptr<FakeWebcam> camera;
        int generation = 0;  // which plugging-in of the node this is
        int owner = -1;      // the descriptor holding its buffers
        bool unplug_logged = false;
    };

    struct Done {
        std::uint32_t index = 0;
        FakeExposure frame;
    };

    struct OpenFile {
        int node = 0;
        int generation = 0;
        std::string fourcc;
        FrameSize size;
        int rate = 0;
        std::vector<std::vector<char>> buffers;
        std::deque<std::uint32_t> queued;
        std::deque<Done> done;
        bool streaming = false;
        // The camera went away while this descriptor was open.
        bool lost = false;
        Time lost_at{};
    };

    // How a descriptor's calls fail once its camera is gone.
    enum class Loss { none, queue_error, unregistered };

    // Caller holds mutex_.
    void sync_with_file();
    // The open file of a descriptor (null when there is none) and its node
    // (null when it is gone), after reading the set afresh.
    std::pair<OpenFile*, Node*> opened(int fd);
    Loss loss(const OpenFile& file) const;
    void log(int node, const std::string& event);
    void advance(OpenFile& file, Node& node, Time now);
    int control_call(Node& node, unsigned long request, void* argument);
    int format_call(OpenFile& file, Node& node, int fd, unsigned long request, void* argument);
    int rate_call(OpenFile& file, Node& node, unsigned long request, void* argument);
    int buffer_call(OpenFile& file, Node& node, int fd, unsigned long request, void* argument);

    std::string set_file_;
    std::mutex mutex_;
    std::map<int, Node> nodes_;  // by number
    std::map<int, OpenFile> files_;
    int next_fd_ = 1000;
    int generations_ = 0;
    std::string set_text_;  // as last read
    std::uint64_t changes_ = 0;
};
