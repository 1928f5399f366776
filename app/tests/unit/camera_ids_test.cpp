#include "cameras/camera_ids.h"

#include "platform/files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace {
namespace fs = std::filesystem;

const std::string left_camera =
    R"(\\?\usb#vid_046d&pid_085c&mi_00#7&1a2b3c&0&0000#{e5323777-f976-4f5b-9b55-b94699c46e44}\global)";
const std::string right_camera =
    R"(\\?\usb#vid_0c45&pid_6366&mi_00#7&2b3c4d&0&0000#{e5323777-f976-4f5b-9b55-b94699c46e44}\global)";
const std::string infrared_camera =
    R"(\\?\usb#vid_04f2&pid_b6dd&mi_02#6&9f8e7d&0&0002#{e5323777-f976-4f5b-9b55-b94699c46e44}\global)";

struct TempFolder {
    TempFolder() {
        std::random_device random;
        path = fs::temp_directory_path() / ("vistrel-camera-ids-test-" + std::to_string(random()));
        fs::create_directories(path);
    }
    ~TempFolder() {
        std::error_code ignored;
        fs::remove_all(path, ignored);
    }
    fs::path path;
};

std::string file_text(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void write_text(const fs::path& file, const std::string& text) {
    std::ofstream(file, std::ios::binary) << text;
}

TEST(CameraIds, NewLinksTakeTheLowestFreeNumberAndKnownLinksKeepTheirs) {
    CameraIdMap ids;
    EXPECT_EQ(camera_id_for(ids, left_camera), "0");
    EXPECT_EQ(camera_id_for(ids, right_camera), "1");
    EXPECT_EQ(camera_id_for(ids, left_camera), "0");
    // A gap left by a mended file is filled first; the numbers in use stay.
    CameraIdMap gapped{{left_camera, "0"}, {right_camera, "2"}};
    EXPECT_EQ(camera_id_for(gapped, infrared_camera), "1");
    EXPECT_EQ(camera_id_for(gapped, "another"), "3");
    EXPECT_EQ(gapped.at(right_camera), "2");
}

TEST(CameraIds, OnlyAFileOfWholeDistinctNumbersIsRead) {
    auto ids = parse_camera_ids(camera_ids_text({{left_camera, "0"}, {right_camera, "10"}}));
    ASSERT_TRUE(ids);
    EXPECT_EQ(*ids, (CameraIdMap{{left_camera, "0"}, {right_camera, "10"}}));
    EXPECT_EQ(parse_camera_ids(R"({"cameras": {}})"), CameraIdMap{});
    struct Case {
        const char* text;
        const char* why;
    };
    for (const Case& bad : {
             Case{"", "empty"},
             Case{"{\"cameras\": {\"a\": \"0\"", "cut short"},
             Case{"[]", "not an object"},
             Case{"{}", "no cameras"},
             Case{R"({"cameras": []})", "cameras not an object"},
             Case{R"({"cameras": {"a": 0}})", "a number, not a text"},
             Case{R"({"cameras": {"a": "x"}})", "not a number"},
             Case{R"({"cameras": {"a": "-1"}})", "negative"},
             Case{R"({"cameras": {"a": "01"}})", "a second spelling"},
             Case{R"({"cameras": {"a": "99999999999999"}})", "too large"},
             Case{R"({"cameras": {"a": "1", "b": "1"}})", "one id twice"},
             Case{R"({"cameras": {"": "1"}})", "no link"},
         }) {
        EXPECT_FALSE(parse_camera_ids(bad.text)) << bad.why;
    }
}

TEST(CameraIds, IdsSurviveARestartAndAreSharedThroughTheFile) {
    TempFolder folder;
    fs::path file = folder.path / "config" / "cameras.json";
    {
        CameraIdStore store(file);
        EXPECT_EQ(store.ids_for({left_camera, right_camera}), (std::vector<std::string>{"0", "1"}));
        EXPECT_EQ(store.problem(), "");
    }
    // The next run: the left camera is unplugged, a new one comes; the right
    // one keeps its id and the new one does not take the absent one's.
    CameraIdStore restarted(file);
    EXPECT_EQ(restarted.ids_for({infrared_camera, right_camera}), (std::vector<std::string>{"2", "1"}));
    // Another app numbered a camera meanwhile: this one reads it from the file.
    CameraIdStore other(file);
    EXPECT_EQ(other.ids_for({"fourth"}), std::vector<std::string>{"3"});
    EXPECT_EQ(restarted.ids_for({"fourth", left_camera}), (std::vector<std::string>{"3", "0"}));
    EXPECT_EQ(parse_camera_ids(file_text(file)),
              (CameraIdMap{{left_camera, "0"}, {right_camera, "1"}, {infrared_camera, "2"}, {"fourth", "3"}}));
}

TEST(CameraIds, AFileThatHoldsNoIdsIsNeverWrittenOver) {
    TempFolder folder;
    fs::path file = folder.path / "cameras.json";
    const std::string mangled = std::string("{\"cameras\": {\"") + R"(\\?\usb#vid_046d)" + "\": \"0\",";
    write_text(file, mangled);
    CameraIdStore store(file);
    EXPECT_EQ(store.ids_for({left_camera, right_camera}), (std::vector<std::string>{"0", "1"}));
    EXPECT_NE(store.problem().find("for this run only"), std::string::npos) << store.problem();
    // Stable within the run, and the file is left for the user to mend.
    EXPECT_EQ(store.ids_for({right_camera, infrared_camera}), (std::vector<std::string>{"1", "2"}));
    EXPECT_EQ(file_text(file), mangled);
}
}  // namespace
