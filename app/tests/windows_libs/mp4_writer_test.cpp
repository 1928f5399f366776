#include "recording/mp4_writer_mf.h"

#include "test_pictures.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <variant>

namespace {
// Under wine (no H.264 encoder, or no Media Foundation at all when mfplat.dll
// is switched off) VISTREL_TEST_MP4_REFUSAL holds the reason the refusal
// must give. On a Windows with its encoder, run by hand without it, the
// writer must make an MP4 whose 'moov' comes before 'mdat'.
TEST(Mp4Writer, MakesH264InMp4WithMoovFirstOrRefusesNamingWebm) {
    const char* expected_reason = std::getenv("VISTREL_TEST_MP4_REFUSAL");
    Nv12Frame frame = nv12_from_bgra(known_colours_picture(0).rows());
    Mp4Writer writer;
    auto problem = writer.start(frame.width, frame.height, 25);
    if (expected_reason) {
        ASSERT_TRUE(problem) << "this machine was expected to lack " << expected_reason;
        EXPECT_EQ(problem->kind, EncodeFailure::Kind::unsupported);
        EXPECT_EQ(
            problem->message.rfind("MP4 needs Windows' H.264 encoder (Media Foundation), which this Windows lacks", 0),
            0u)
            << problem->message;
        EXPECT_NE(problem->message.find(expected_reason), std::string::npos) << problem->message;
        EXPECT_NE(problem->message.find("use --format webm"), std::string::npos) << problem->message;
        // Refused, it takes no frames and makes no file, and says so.
        auto later = writer.add_frame(frame);
        ASSERT_TRUE(later);
        EXPECT_EQ(later->kind, EncodeFailure::Kind::failed);
        EXPECT_TRUE(std::holds_alternative<EncodeFailure>(writer.finish()));
        return;
    }
    if (problem && problem->kind == EncodeFailure::Kind::unsupported) GTEST_SKIP() << problem->message;
    ASSERT_FALSE(problem) << problem->message;
    for (int i = 0; i < known_colours_frames; ++i) {
        problem = writer.add_frame(nv12_from_bgra(known_colours_picture(i).rows()));
        ASSERT_FALSE(problem) << "frame " << i << ": " << problem->message;
    }
    auto finished = writer.finish();
    ASSERT_TRUE(std::holds_alternative<std::string>(finished)) << std::get<EncodeFailure>(finished).message;
    const std::string& mp4 = std::get<std::string>(finished);
    EXPECT_EQ(mp4.substr(4, 4), "ftyp");
    auto moov = mp4.find("moov"), mdat = mp4.find("mdat");
    ASSERT_NE(moov, std::string::npos);
    ASSERT_NE(mdat, std::string::npos);
    EXPECT_LT(moov, mdat) << "'moov' first, for playback before the whole file is read";
    EXPECT_NE(mp4.find("avc1"), std::string::npos) << "H.264";
}

TEST(Mp4Writer, SidesItCannotEncodeAreRefusedBeforeMediaFoundationIsLoaded) {
    const int sides[][2] = {{0, 0}, {321, 180}, {320, 181}, {-2, 4}, {16386, 2}};
    for (const auto& side : sides) {
        Mp4Writer writer;
        auto problem = writer.start(side[0], side[1]);
        ASSERT_TRUE(problem) << side[0] << "x" << side[1];
        EXPECT_EQ(problem->kind, EncodeFailure::Kind::failed);
        EXPECT_NE(problem->message.find("even sides"), std::string::npos) << problem->message;
    }
}
}  // namespace
