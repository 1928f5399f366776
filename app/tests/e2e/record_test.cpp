// record: real recordings of the Xvfb display by ffmpeg.
#include "app_fixture.h"
#include "media_probe.h"

#include <nlohmann/json.hpp>

#include <filesystem>
#include <future>
#include <map>
#include <thread>

namespace {
using RecordTest = AppTest;

TEST_F(RecordTest, RecordsWebmByDefault) {
    RunResult r = vistrel({"record", "--secs", "2"});
    ASSERT_EQ(r.exit_status, 0) << r.err;
    std::string bytes = read_file(in_work("screen.webm"));
    EXPECT_EQ(r.out, "screen.webm  " + std::to_string(bytes.size()) + " bytes\n");
    auto info = probe_media(in_work("screen.webm"));
    EXPECT_NE(info["format_name"].find("webm"), std::string::npos) << info["format_name"];
    EXPECT_EQ(info["codec_name"], "vp8");
    double duration = probed_seconds(info["duration"]);
    EXPECT_NEAR(duration, 2.0, 0.5);
    EXPECT_LT(r.took.count(), 8000);
}

TEST_F(RecordTest, RecordsMp4OnRequest) {
    RunResult r = vistrel({"record", "--secs", "1", "--format", "mp4"});
    ASSERT_EQ(r.exit_status, 0) << r.err;
    auto info = probe_media(in_work("screen.mp4"));
    EXPECT_NE(info["format_name"].find("mp4"), std::string::npos) << info["format_name"];
    EXPECT_EQ(info["codec_name"], "h264");
    EXPECT_EQ(info["pix_fmt"], "yuv420p");
    EXPECT_NEAR(probed_seconds(info["duration"]), 1.0, 0.5);
}

TEST_F(RecordTest, OtherFormatsAndLengthsAreRefused) {
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const Case cases[] = {
        {{"record", "--format", "mkv"}, "unknown recording format \"mkv\"; use webm or mp4"},
        {{"record", "--format", "MP4"}, "unknown recording format \"MP4\"; use webm or mp4"},
        {{"record", "--secs", "0"}, "a recording lasts from 1 to 120 seconds (got 0)"},
        {{"record", "--secs", "121"}, "a recording lasts from 1 to 120 seconds (got 121)"},
        {{"record", "--secs", "4294967295"}, "a recording lasts from 1 to 120 seconds (got 4294967295)"},
    };
    for (const auto& c : cases) expect_refused(vistrel(c.args), c.message);
    EXPECT_FALSE(std::filesystem::exists(in_work("screen.webm")));
}

TEST_F(RecordTest, TheAppKeepsAnsweringWhileItRecords) {
    auto recording = std::async(std::launch::async, [&] {
        return vistrel({"record", "--secs", "2", "--out", "long.webm"});
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(600));

    RunResult status = vistrel({"status", "--json"});
    EXPECT_EQ(status.exit_status, 0);
    EXPECT_LT(status.took.count(), 1000) << "status waited for the recording";
    EXPECT_EQ(nlohmann::json::parse(status.out).at("recording"), true);
    RunResult snap = vistrel({"snap", "--size", "64x64"});
    EXPECT_EQ(snap.exit_status, 0);
    expect_refused(vistrel({"record", "--secs", "1", "--out", "second.webm"}),
                   "a screen recording is already running; try again when it has finished");

    RunResult finished = recording.get();
    EXPECT_EQ(finished.exit_status, 0) << finished.err;
    EXPECT_GT(read_file(in_work("long.webm")).size(), 0u);
    EXPECT_EQ(nlohmann::json::parse(vistrel({"status", "--json"}).out).at("recording"), false);
}
TEST_F(RecordTest, StoppingTheAppCutsARecordingShortAndSaysSo) {
    auto recording = std::async(std::launch::async, [&] { return vistrel({"record", "--secs", "60"}); });
    std::this_thread::sleep_for(std::chrono::milliseconds(800));
    auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(stop_app(app), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5))
        << "the app waited for the recording";
    expect_refused(recording.get(), "the recording was cut short: vistrel-app is stopping");
    EXPECT_FALSE(std::filesystem::exists(in_work("screen.webm")));
}
}  // namespace
