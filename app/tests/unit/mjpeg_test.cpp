// Motion-JPEG frames as webcams send them: without Huffman tables, padded,
// or cut short.
#include "imaging/mjpeg.h"
#include "imaging/jpeg.h"
#include "imaging/test_scene.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {
// A JPEG of the test scene, which libjpeg-turbo writes with the standard
// tables, each in a DHT segment of its own.
std::string scene_jpeg() {
    return encode_jpeg(render_test_scene(160, 90, 1.0, {"12:00", "FRAME 1"}));
}

struct Split {
    std::string without_tables;  // the JPEG with every DHT segment removed
    std::string tables;          // their contents, one after another
};

Split split_tables(const std::string& jpeg) {
    Split split{jpeg.substr(0, 2), ""};
    std::size_t pos = 2;
    while (static_cast<std::uint8_t>(jpeg[pos + 1]) != 0xDA) {
        std::size_t length = (static_cast<std::uint8_t>(jpeg[pos + 2]) << 8) | static_cast<std::uint8_t>(jpeg[pos + 3]);
        if (static_cast<std::uint8_t>(jpeg[pos + 1]) == 0xC4) {
            split.tables += jpeg.substr(pos + 4, length - 2);
        } else {
            split.without_tables += jpeg.substr(pos, 2 + length);
        }
        pos += 2 + length;
    }
    split.without_tables += jpeg.substr(pos);
    return split;
}

TEST(Mjpeg, RestoresExactlyTheStandardTables) {
    std::string jpeg = scene_jpeg();
    Split split = split_tables(jpeg);
    ASSERT_FALSE(has_huffman_tables(split.without_tables));
    ASSERT_TRUE(has_huffman_tables(jpeg));

    std::string restored = with_huffman_tables(split.without_tables);
    EXPECT_TRUE(has_huffman_tables(restored));
    // One segment holding the same four tables in the same order.
    Split again = split_tables(restored);
    EXPECT_EQ(again.tables, split.tables);
    EXPECT_EQ(again.without_tables, split.without_tables);
    // And the picture is the one encoded.
    auto original = decode_jpeg(jpeg), decoded = decode_jpeg(restored);
    ASSERT_TRUE(original && decoded);
    EXPECT_EQ(decoded->rgb, original->rgb);
}

TEST(Mjpeg, LeavesEverythingElseAlone) {
    std::string jpeg = scene_jpeg();
    EXPECT_EQ(with_huffman_tables(jpeg), jpeg);
    for (std::string other : {std::string(), std::string("not a jpeg"), std::string("\xFF\xD8\xFF"),
                              std::string("\xFF\xD8\x00\x00\x00\x00", 6)}) {
        EXPECT_EQ(with_huffman_tables(other), other);
        EXPECT_FALSE(has_huffman_tables(other));
    }
}

TEST(Mjpeg, CompleteFramesLoseTheirPaddingAndCutFramesAreRejected) {
    std::string jpeg = scene_jpeg();
    EXPECT_EQ(complete_jpeg(jpeg), jpeg);
    EXPECT_EQ(complete_jpeg(jpeg + std::string(64, '\0')), jpeg);
    EXPECT_EQ(complete_jpeg(jpeg.substr(0, jpeg.size() / 2)), "");
    EXPECT_EQ(complete_jpeg(jpeg.substr(0, jpeg.size() - 1)), "");
    EXPECT_EQ(complete_jpeg("\xFF\xD9"), "");
    EXPECT_EQ(complete_jpeg(std::string(100, '\0')), "");
}
}  // namespace
