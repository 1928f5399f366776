#include "recording/webm_writer.h"

#include "test_pictures.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <variant>

namespace {
// The file check-webm.sh reads with Linux's ffprobe and ffmpeg: there the
// codec, the rate, the frame count, the length, the size and the colours
// are checked as a player sees them.
TEST(WebmWriter, FiftyFramesOfKnownColoursMakeAWholeWebm) {
    I420Frame first = i420_from_bgra(known_colours_picture(0).rows());
    ASSERT_EQ(first.width, 322);
    ASSERT_EQ(first.height, 182);
    WebmWriter writer;
    auto problem = writer.start(first.width, first.height, 25);
    ASSERT_FALSE(problem) << problem->message;
    for (int i = 0; i < known_colours_frames; ++i) {
        problem = writer.add_frame(i420_from_bgra(known_colours_picture(i).rows()));
        ASSERT_FALSE(problem) << "frame " << i << ": " << problem->message;
    }
    EXPECT_EQ(writer.frames(), known_colours_frames);
    auto finished = writer.finish();
    ASSERT_TRUE(std::holds_alternative<std::string>(finished)) << std::get<EncodeFailure>(finished).message;
    const std::string& webm = std::get<std::string>(finished);
    EXPECT_EQ(webm.substr(0, 4), "\x1A\x45\xDF\xA3") << "an EBML header first";
    EXPECT_NE(webm.find("webm"), std::string::npos) << "the document type";
    EXPECT_NE(webm.find("V_VP8"), std::string::npos) << "the codec";
    // Flat pictures cost the encoder little, far under 2 Mbit/s for 2 s.
    EXPECT_GT(webm.size(), 2'000u);
    EXPECT_LT(webm.size(), 500'000u);

    if (const char* path = std::getenv("VISTREL_TEST_WEBM")) {
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(webm.data(), static_cast<std::streamsize>(webm.size()));
        out.close();
        ASSERT_TRUE(out) << "cannot write " << path;
    }
}

void expect_failure(const std::optional<EncodeFailure>& problem, const std::string& words) {
    ASSERT_TRUE(problem) << "expected a failure saying \"" << words << "\"";
    EXPECT_EQ(problem->kind, EncodeFailure::Kind::failed);
    EXPECT_NE(problem->message.find(words), std::string::npos) << problem->message;
}

void expect_failure(const std::variant<std::string, EncodeFailure>& finished, const std::string& words) {
    ASSERT_TRUE(std::holds_alternative<EncodeFailure>(finished)) << "expected a failure saying \"" << words << "\"";
    expect_failure(std::optional<EncodeFailure>(std::get<EncodeFailure>(finished)), words);
}

TEST(WebmWriter, SidesAndRatesItCannotEncodeAreRefused) {
    struct Case {
        int width, height, frames_per_second;
        const char* words;
    };
    const Case cases[] = {
        {0, 0, 25, "even sides"},
        {321, 180, 25, "even sides"},
        {320, 181, 25, "even sides"},
        {-2, 4, 25, "even sides"},
        {16386, 2, 25, "even sides"},
        {320, 180, 0, "frames a second"},
        {320, 180, 1001, "frames a second"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height) + " at " +
                     std::to_string(c.frames_per_second));
        WebmWriter writer;
        expect_failure(writer.start(c.width, c.height, c.frames_per_second), c.words);
        expect_failure(writer.add_frame(I420Frame{}), "before it started");
    }
}

TEST(WebmWriter, MisuseIsAFailureNeverACrash) {
    WebmWriter unstarted;
    expect_failure(unstarted.add_frame(I420Frame{}), "before it started");
    expect_failure(unstarted.finish(), "before it started");

    WebmWriter writer;
    ASSERT_FALSE(writer.start(64, 48));
    expect_failure(writer.start(64, 48), "started twice");
    Image small = blank_image(32, 24);
    expect_failure(writer.add_frame(i420_from_rgb(small)), "a frame of 32x24 came for a recording of 64x48");
    // A picture without its pixels gives a frame of 0x0 (see yuv.h).
    expect_failure(writer.add_frame(i420_from_bgra(BgraRows{})), "a frame of 0x0");
    I420Frame short_planes = i420_from_rgb(blank_image(64, 48));
    short_planes.v.pop_back();
    expect_failure(writer.add_frame(short_planes), "came for a recording of 64x48");
    EXPECT_EQ(writer.frames(), 0);
    expect_failure(writer.finish(), "at least one frame");
    expect_failure(writer.add_frame(i420_from_rgb(blank_image(64, 48))), "after it finished");
    expect_failure(writer.finish(), "finished twice");
}
}  // namespace
