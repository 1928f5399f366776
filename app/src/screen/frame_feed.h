#pragma once
// Frames handed to ffmpeg through a named pipe, as raw video at a steady
// rate: the way a Wayland screen is recorded with the same encoder settings
// as the X display. Frames are written by the clock, the newest one at each
// tick (again when nothing changed), so that the video lasts as long as the
// recording did even where the desktop sends frames only on change.
#include "screen/raw_frame.h"
#include "screen/screen_backend.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

// Fills in the newest frame; false when there will be none (then `problem`
// says why).
using FrameSource = std::function<bool(RawFrame& frame, std::string& problem)>;

// ffmpeg's input options for what a FrameFeed writes into `pipe`.
std::vector<std::string> raw_video_input(const PixelLayout& layout, int width, int height, int fps,
                                         const std::string& pipe);

// Makes the named pipe `path` (readable by this user only).
void make_pipe(const std::filesystem::path& path);

class FrameFeed : public RecordingFeed {
public:
    // Writes `width` x `height` frames from `source` into the named pipe
    // `pipe`, `fps` a second, from when a reader opens it until the reader
    // closes it or the feed is destroyed. A reader that has not come within
    // `open_limit` is given up.
    FrameFeed(std::filesystem::path pipe, FrameSource source, int width, int height, int fps,
              std::chrono::milliseconds open_limit = std::chrono::seconds(30));
    ~FrameFeed() override;
    FrameFeed(const FrameFeed&) = delete;
    FrameFeed& operator=(const FrameFeed&) = delete;

    std::string finish() override;
    int frames_written() const { return written_; }

private:
    void run();
    void stop();
    bool stopping_wait_until(std::chrono::steady_clock::time_point when);

    std::filesystem::path pipe_;
    FrameSource source_;
    int width_, height_, fps_;
    std::chrono::milliseconds open_limit_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stop_ = false;    // guarded by mutex_
    std::string problem_;  // guarded by mutex_
    std::atomic<int> written_{0};
    std::thread thread_;
};
