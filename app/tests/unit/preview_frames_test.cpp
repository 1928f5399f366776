#include "recording/preview_frames.h"

#include "recording/recording.h"

#include <gtest/gtest.h>

#include <cstdlib>

namespace {
// A tile-sized picture that says which tick it was grabbed at.
std::shared_ptr<const Image> marked(long long tick) {
    Image image = blank_image(2, 1);
    image.rgb[0] = static_cast<std::uint8_t>(tick % 256);
    image.rgb[1] = static_cast<std::uint8_t>(tick / 256);
    return std::make_shared<const Image>(std::move(image));
}

long long mark_of(const TimedFrame& frame) {
    return frame.picture.rgb[0] + 256LL * frame.picture.rgb[1];
}

// Feeds one frame a tick for `ticks` ticks, as the encoder would.
void feed(PreviewFrames& preview, long long ticks, long long every = 1) {
    for (long long tick = 0; tick < ticks; tick += every) {
        long long standing = std::min(every, ticks - tick);
        if (preview.wanted(tick, standing)) preview.keep(tick, standing, marked(tick));
    }
}

TEST(PreviewFrames, ARecordingOfItsPlannedLengthShowsTheFramesAtEvenTimes) {
    PreviewFrames preview(4, 125, 25, {1280, 720});
    feed(preview, 125);
    std::vector<TimedFrame> frames = preview.pick(125);
    ASSERT_EQ(frames.size(), 4u);
    // 5 s in four: 0, 1.25, 2.5 and 3.75 s, the ticks nearest to them.
    const long long ticks[] = {0, 31, 63, 94};
    const double seconds[] = {0, 1.25, 2.5, 3.75};
    for (std::size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(mark_of(frames[i]), ticks[i]) << i;
        EXPECT_DOUBLE_EQ(frames[i].seconds, seconds[i]) << i;
    }
    // Frames that stand at several ticks (grabs that came late) are picked
    // by the ticks they stand at.
    PreviewFrames late(4, 125, 25, {1280, 720});
    feed(late, 125, 7);
    frames = late.pick(125);
    ASSERT_EQ(frames.size(), 4u);
    const long long grabbed[] = {0, 28, 63, 91};
    for (std::size_t i = 0; i < 4; ++i) EXPECT_EQ(mark_of(frames[i]), grabbed[i]) << i;
}

TEST(PreviewFrames, ARecordingEndedEarlyShowsFramesNearItsOwnEvenTimes) {
    for (int count : {1, 4, 9, 36}) {
        for (long long ended : {1LL, 2LL, 40LL, 50LL, 333LL, 1499LL}) {
            PreviewFrames preview(count, 3000, 25, {1920, 1080});
            feed(preview, ended);
            std::vector<TimedFrame> frames = preview.pick(ended);
            ASSERT_EQ(frames.size(), static_cast<std::size_t>(count)) << count << " of " << ended;
            // Within an eighth of the spacing of the sheet's frames (and
            // half a tick of rounding) of each one's own time, or of the
            // last tick when that time falls after it.
            double spacing = static_cast<double>(ended) / count;
            for (int i = 0; i < count; ++i) {
                double wanted = std::min(spacing * i, ended - 1.0);
                EXPECT_LE(std::abs(mark_of(frames[static_cast<std::size_t>(i)]) - wanted), spacing / 8 + 0.5)
                    << "frame " << i << " of " << count << " over " << ended << " ticks";
                EXPECT_LT(mark_of(frames[static_cast<std::size_t>(i)]), ended);
                EXPECT_DOUBLE_EQ(frames[static_cast<std::size_t>(i)].seconds, i * (ended / 25.0) / count);
            }
        }
    }
}

TEST(PreviewFrames, KeepsFewFramesHoweverLongTheRecording) {
    for (int count : {1, 2, 36}) {
        PreviewFrames preview(count, 120 * 25, 25, {3840, 2160});
        feed(preview, 120 * 25);
        EXPECT_LE(preview.frames_kept(), 9 * count) << count;
        EXPECT_EQ(preview.pick(120 * 25).size(), static_cast<std::size_t>(count));
    }
    PreviewFrames none(0, 125, 25, {1280, 720});
    EXPECT_FALSE(none.wanted(0, 125));
    feed(none, 125);
    EXPECT_TRUE(none.pick(125).empty());
}

TEST(PreviewFrames, TilesFitTheSheetsLimits) {
    // Four frames of 1280x720 on a 2x2 sheet of at most 1568 a side and
    // 1.15 megapixels; one frame of a small screen at its own size.
    EXPECT_EQ(PreviewFrames(4, 125, 25, {1280, 720}).tile(), sheet_tile_size({1280, 720}, 2, 2, {1568, 1'150'000}));
    FrameSize tile = PreviewFrames(36, 125, 25, {3840, 2160}).tile();
    EXPECT_LE(6 * tile.width, sheet_max_side);
    EXPECT_LE(6LL * tile.width * 6 * tile.height, sheet_max_pixels);
    EXPECT_EQ(PreviewFrames(1, 125, 25, {640, 360}).tile(), (FrameSize{640, 360}));
}
}  // namespace
