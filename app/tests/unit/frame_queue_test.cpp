#include "recording/frame_queue.h"

#include <gtest/gtest.h>

#include <future>
#include <thread>

namespace {
// A 3x2 view whose pixel (x, y) has red 10x+1, green 10y+2, blue 5, in
// `layout`, rows padded to 16 bytes.
std::vector<std::uint8_t> pattern(const PixelLayout& layout, bool bottom_up) {
    std::vector<std::uint8_t> bytes(16 * 2, 0xEE);
    for (int y = 0; y < 2; ++y) {
        int stored = bottom_up ? 1 - y : y;
        for (int x = 0; x < 3; ++x) {
            std::uint8_t* p = &bytes[static_cast<std::size_t>(stored) * 16 + x * 4];
            p[layout.red] = static_cast<std::uint8_t>(10 * x + 1);
            p[layout.green] = static_cast<std::uint8_t>(10 * y + 2);
            p[layout.blue] = 5;
        }
    }
    return bytes;
}

TEST(FrameQueue, FramesAreCopiedAsBgrxRowsCutOrPaddedToTheRecordingsSize) {
    for (PixelLayout layout : {bgrx_layout, rgbx_layout, xrgb_layout, xbgr_layout}) {
        for (bool bottom_up : {false, true}) {
            std::vector<std::uint8_t> bytes = pattern(layout, bottom_up);
            PixelView view{bytes.data(), 3, 2, 16, bottom_up, layout};
            std::vector<std::uint8_t> out;
            // The recording's size: two columns (the stray third left out)
            // and three rows (the screen became smaller: black below).
            copy_bgrx(view, 2, 3, out);
            ASSERT_EQ(out.size(), 2u * 3u * 4u);
            const std::vector<std::uint8_t> expected = {5, 2,  1,  0, 5, 2, 11, 0, 5, 12, 1, 0,
                                                        5, 12, 11, 0, 0, 0, 0,  0, 0, 0,  0, 0};
            if (same_layout(layout, bgrx_layout)) {
                // Copied as they are, the fourth byte included.
                for (std::size_t i = 0; i < out.size(); ++i) {
                    if (i % 4 != 3) {
                        EXPECT_EQ(out[i], expected[i]) << i << " bottom up " << bottom_up;
                    }
                }
            } else {
                EXPECT_EQ(out, expected) << layout.ffmpeg_name << " bottom up " << bottom_up;
            }
        }
    }
    std::vector<std::uint8_t> out = {1, 2, 3};
    copy_bgrx(PixelView{}, 2, 1, out);
    EXPECT_EQ(out, std::vector<std::uint8_t>(8, 0)) << "no picture: black";
}

std::vector<std::uint8_t> frame_of(std::uint8_t mark) {
    return std::vector<std::uint8_t>(2 * 2 * 4, mark);
}

TEST(FrameQueue, TheEncoderIsHandedEachFrameOnceThenTheTicksAddedToIt) {
    FrameQueue queue(2, 2, 3);
    queue.push(frame_of(1), 0, 1);
    queue.push(frame_of(2), 1, 2);
    auto work = queue.take();
    ASSERT_TRUE(work);
    EXPECT_EQ(work->bgrx[0], 1);
    EXPECT_TRUE(work->fresh);
    EXPECT_EQ(work->first_tick, 0);
    EXPECT_EQ(work->ticks, 1);
    work = queue.take();
    ASSERT_TRUE(work);
    EXPECT_EQ(work->bgrx[0], 2);
    EXPECT_TRUE(work->fresh);
    EXPECT_EQ(work->first_tick, 1);
    EXPECT_EQ(work->ticks, 2);
    // Encoded, the newest frame stays to stand in for what cannot be grabbed.
    EXPECT_EQ(queue.frames_queued(), 1);
    ASSERT_TRUE(queue.extend(3));
    work = queue.take();
    ASSERT_TRUE(work);
    EXPECT_EQ(work->bgrx[0], 2);
    EXPECT_FALSE(work->fresh) << "the same frame again: no need to convert it";
    EXPECT_EQ(work->first_tick, 3);
    EXPECT_EQ(work->ticks, 3);
    // Closed: what is queued is handed over, then nothing.
    queue.push(frame_of(3), 6, 1);
    queue.close();
    work = queue.take();
    ASSERT_TRUE(work);
    EXPECT_EQ(work->bgrx[0], 3);
    EXPECT_FALSE(queue.take());
    EXPECT_EQ(queue.frames_queued(), 0);
    EXPECT_FALSE(FrameQueue(2, 2, 2).extend(1)) << "no frame to stand in yet";
}

TEST(FrameQueue, AFullQueueTakesNoFrameAndItsNewestStandsIn) {
    FrameQueue queue(2, 2, 2);
    EXPECT_FALSE(queue.extend_if_full(1));
    queue.push(frame_of(1), 0, 1);
    EXPECT_FALSE(queue.extend_if_full(1));
    queue.push(frame_of(2), 1, 1);
    EXPECT_TRUE(queue.extend_if_full(4));
    EXPECT_EQ(queue.frames_queued(), 2);
    EXPECT_EQ(queue.take()->ticks, 1);
    auto newest = queue.take();
    EXPECT_EQ(newest->bgrx[0], 2);
    EXPECT_EQ(newest->ticks, 5);
    // The first frame's buffer is grabbed into again.
    std::vector<std::uint8_t> spare = queue.spare();
    EXPECT_EQ(spare, frame_of(1));
    EXPECT_TRUE(queue.spare().empty());
}

TEST(FrameQueue, TheEncoderWaitsForFramesAndStopsAtOnceWhenAbandoned) {
    FrameQueue queue(2, 2, 4);
    auto waiting = std::async(std::launch::async, [&] { return queue.take(); });
    EXPECT_EQ(waiting.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
    queue.push(frame_of(9), 0, 1);
    ASSERT_EQ(waiting.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(waiting.get()->bgrx[0], 9);

    waiting = std::async(std::launch::async, [&] { return queue.take(); });
    EXPECT_EQ(waiting.wait_for(std::chrono::milliseconds(50)), std::future_status::timeout);
    queue.push(frame_of(10), 1, 1);
    queue.push(frame_of(11), 2, 1);
    queue.abandon();
    // Whichever came first, nothing is handed after the abandon.
    (void)waiting.get();
    EXPECT_FALSE(queue.take());
    queue.push(frame_of(12), 3, 1);
    EXPECT_FALSE(queue.take());
}
}  // namespace
