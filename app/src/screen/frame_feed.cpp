#include "screen/frame_feed.h"

#include "fault.h"
#include "recording/frame_pacer.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

std::vector<std::string> raw_video_input(const PixelLayout& layout, int width, int height, int fps,
                                         const std::string& pipe) {
    return {"-f",
            "rawvideo",
            "-pixel_format",
            layout.ffmpeg_name,
            "-video_size",
            std::to_string(width) + "x" + std::to_string(height),
            "-framerate",
            std::to_string(fps),
            "-i",
            pipe};
}

void make_pipe(const std::filesystem::path& path) {
    if (mkfifo(path.c_str(), 0600) != 0) {
        throw Fault{FaultKind::failed,
                    "cannot make the pipe that feeds the recording: " + std::string(std::strerror(errno))};
    }
}

FrameFeed::FrameFeed(std::filesystem::path pipe, FrameSource source, int width, int height, int fps,
                     std::chrono::milliseconds open_limit)
    : pipe_(std::move(pipe)),
      source_(std::move(source)),
      width_(width),
      height_(height),
      fps_(fps),
      open_limit_(open_limit),
      thread_([this] { run(); }) {}

FrameFeed::~FrameFeed() {
    stop();
}

void FrameFeed::stop() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) thread_.join();
}

std::string FrameFeed::finish() {
    stop();
    std::lock_guard lock(mutex_);
    return problem_;
}

// Sleeps until `when`; true when the feed is to stop.
bool FrameFeed::stopping_wait_until(std::chrono::steady_clock::time_point when) {
    std::unique_lock lock(mutex_);
    return wake_.wait_until(lock, when, [this] { return stop_; });
}

void FrameFeed::run() {
    // A reader that goes away makes write() fail with EPIPE; the signal that
    // comes with it is kept from this thread.
    sigset_t pipe_signal;
    sigemptyset(&pipe_signal);
    sigaddset(&pipe_signal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipe_signal, nullptr);

    auto fail = [this](const std::string& why) {
        std::lock_guard lock(mutex_);
        problem_ = why;
    };
    // Opening without blocking fails until the reader is there, so that a
    // reader that never comes cannot hold the feed.
    auto give_up = std::chrono::steady_clock::now() + open_limit_;
    int fd = -1;
    while (fd < 0) {
        fd = ::open(pipe_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0) break;
        if (errno != ENXIO && errno != EINTR)
            return fail("cannot open the pipe to ffmpeg: " + std::string(std::strerror(errno)));
        if (std::chrono::steady_clock::now() >= give_up)
            return fail("ffmpeg never started reading the screen's frames");
        if (stopping_wait_until(std::chrono::steady_clock::now() + std::chrono::milliseconds(10))) return;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);

    const FramePacer pacer(fps_);
    const auto start = std::chrono::steady_clock::now();
    RawFrame frame;
    std::string packed;
    for (long long tick = 0;;) {
        if (stopping_wait_until(start + pacer.tick_time(tick))) break;
        std::string why;
        if (!source_(frame, why)) {
            fail(why);
            break;
        }
        pack_frame(frame, width_, height_, packed);
        // When late, the same frame is written for every tick that fell
        // meanwhile, so that the video keeps time with the clock.
        long long until = pacer.stands_until(tick, std::chrono::steady_clock::now() - start);
        bool reader_left = false;
        for (; tick < until && !reader_left; ++tick) {
            std::size_t done = 0;
            while (done < packed.size()) {
                ssize_t n = ::write(fd, packed.data() + done, packed.size() - done);
                if (n < 0 && errno == EINTR) continue;
                if (n <= 0) {
                    reader_left = true;  // ffmpeg has all it wants, or has ended
                    break;
                }
                done += static_cast<std::size_t>(n);
            }
            if (!reader_left) ++written_;
        }
        if (reader_left) break;
    }
    ::close(fd);
}
