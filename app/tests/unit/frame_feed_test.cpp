#include "screen/frame_feed.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

namespace {
namespace fs = std::filesystem;

class FrameFeedTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder = fs::temp_directory_path() / ("vistrel-feed-test-" + std::to_string(getpid()));
        fs::remove_all(folder);
        fs::create_directories(folder);
        pipe = folder / "screen.raw";
        make_pipe(pipe);
    }
    void TearDown() override { fs::remove_all(folder); }

    // A 2x2 frame whose first byte counts the frames taken.
    FrameSource counting_source() {
        return [this](RawFrame& frame, std::string&) {
            frame = RawFrame{2, 2, 8, false, bgrx_layout, std::vector<std::uint8_t>(16, 7)};
            frame.bytes[0] = static_cast<std::uint8_t>(++taken);
            return true;
        };
    }

    fs::path folder, pipe;
    int taken = 0;
};

std::string read_exactly(int fd, std::size_t size) {
    std::string bytes(size, '\0');
    std::size_t done = 0;
    while (done < size) {
        ssize_t n = read(fd, bytes.data() + done, size - done);
        if (n <= 0) break;
        done += static_cast<std::size_t>(n);
    }
    bytes.resize(done);
    return bytes;
}

TEST_F(FrameFeedTest, WritesPackedFramesByTheClockUntilTheReaderLeaves) {
    FrameFeed feed(pipe, counting_source(), 2, 2, 50);
    int fd = open(pipe.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    auto started = std::chrono::steady_clock::now();
    std::string frames = read_exactly(fd, 10 * 16);
    auto took = std::chrono::steady_clock::now() - started;
    close(fd);
    ASSERT_EQ(frames.size(), 160u);
    EXPECT_EQ(frames[0], 1);
    EXPECT_EQ(std::string(frames, 1, 15), std::string(15, '\x07'));
    // Ten frames at 50 a second take about 0.2 s; not all at once.
    EXPECT_GE(took, std::chrono::milliseconds(150));
    EXPECT_EQ(feed.finish(), "");
    EXPECT_GE(feed.frames_written(), 10);
}

TEST_F(FrameFeedTest, ASourceThatEndsIsReported) {
    FrameFeed feed(
        pipe,
        [](RawFrame&, std::string& problem) {
            problem = "the desktop stopped sharing the screen";
            return false;
        },
        2, 2, 50);
    int fd = open(pipe.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    // The feed closes its end, so the reader sees the end of the video.
    EXPECT_EQ(read_exactly(fd, 16), "");
    close(fd);
    EXPECT_EQ(feed.finish(), "the desktop stopped sharing the screen");
}

TEST_F(FrameFeedTest, AReaderThatNeverComesIsGivenUp) {
    FrameFeed feed(pipe, counting_source(), 2, 2, 50, std::chrono::milliseconds(100));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_EQ(feed.finish(), "ffmpeg never started reading the screen's frames");
    EXPECT_EQ(taken, 0);
}

TEST_F(FrameFeedTest, FinishingStopsAFeedThatStillWaitsForItsReader) {
    FrameFeed feed(pipe, counting_source(), 2, 2, 50);
    auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(feed.finish(), "");
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
}
}  // namespace
