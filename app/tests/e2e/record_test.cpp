// record: real recordings of the Xvfb display by ffmpeg.
#include "app_fixture.h"
#include "media_probe.h"
#include "raw_http.h"
#include "sanitizers.h"

#include <nlohmann/json.hpp>

#include <unistd.h>

#include <algorithm>
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
    // 25 frames a second, however busy the machine: a frame that could not
    // be grabbed in time is stood in for by the one before.
    EXPECT_EQ(info["nb_read_frames"], "50");
    EXPECT_LT(r.took.count(), 15000);
}

TEST_F(RecordTest, RecordsMp4OnRequest) {
    RunResult r = vistrel({"record", "--secs", "1", "--format", "mp4"});
    ASSERT_EQ(r.exit_status, 0) << r.err;
    auto info = probe_media(in_work("screen.mp4"));
    EXPECT_NE(info["format_name"].find("mp4"), std::string::npos) << info["format_name"];
    EXPECT_EQ(info["codec_name"], "h264");
    EXPECT_EQ(info["pix_fmt"], "yuv420p");
    EXPECT_NEAR(probed_seconds(info["duration"]), 1.0, 0.5);
    EXPECT_EQ(info["nb_read_frames"], "25");
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
// The ffmpeg processes that record `display`, whoever their parent is.
std::vector<pid_t> recorders_of(const std::string& display) {
    std::vector<pid_t> pids;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::string cmdline = read_file(entry.path().string() + "/cmdline");
        std::vector<std::string> args;
        for (std::size_t start = 0, end; start < cmdline.size(); start = end + 1) {
            end = cmdline.find('\0', start);
            if (end == std::string::npos) end = cmdline.size();
            args.push_back(cmdline.substr(start, end - start));
        }
        bool grabs = std::find(args.begin(), args.end(), "x11grab") != args.end();
        if (grabs && std::find(args.begin(), args.end(), display) != args.end()) pids.push_back(std::stoi(name));
    }
    return pids;
}

std::vector<std::string> scratch_folders(const std::string& folder) {
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.path().filename().string().find("vistrel-record-") != std::string::npos) {
            found.push_back(entry.path().filename().string());
        }
    }
    return found;
}

TEST_F(RecordTest, AKilledAppLeavesNoRecorderRunningAndNoFileAfterTheNextStart) {
    auto recording = std::async(std::launch::async, [&] { return vistrel({"record", "--secs", "60"}); });
    auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10 * sanitizer_slowdown);
    while ((recorders_of(xvfb.name).empty() || scratch_folders(temp_folder()).empty()) &&
           std::chrono::steady_clock::now() < give_up) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_FALSE(recorders_of(xvfb.name).empty()) << "ffmpeg did not start";

    kill_program(app.pid);
    app.pid = -1;
    auto killed = std::chrono::steady_clock::now();
    // No child holds the client's connection: it ends with the app.
    recording.get();
    EXPECT_LT(std::chrono::steady_clock::now() - killed, std::chrono::seconds(5))
        << "the client waited for the recording of a dead app";
    // ffmpeg ends with the app.
    while (!recorders_of(xvfb.name).empty() && std::chrono::steady_clock::now() - killed < std::chrono::seconds(5)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_TRUE(recorders_of(xvfb.name).empty()) << "ffmpeg records on for an app that is gone";
    ASSERT_FALSE(scratch_folders(temp_folder()).empty()) << "nothing was left to clean up";

    start_app_process();
    EXPECT_TRUE(scratch_folders(temp_folder()).empty()) << "the next app left the dead one's files";
    EXPECT_EQ(vistrel({"status"}).exit_status, 0);
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
TEST_F(RecordTest, ARecordingStoppedEarlyIsAShorterCompleteFile) {
    RawReply none = raw_exchange(app.port, client_style_request("POST", "/api/screen/record/stop", app.port, "{}"));
    EXPECT_EQ(none.status, 404);
    EXPECT_EQ(none.body, R"({"error":"no screen recording is running"})");

    auto recording = std::async(std::launch::async, [&] { return vistrel({"record", "--secs", "30"}); });
    auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10 * sanitizer_slowdown);
    while (recorders_of(xvfb.name).empty() && std::chrono::steady_clock::now() < give_up) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_FALSE(recorders_of(xvfb.name).empty()) << "ffmpeg did not start";
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    auto asked = std::chrono::steady_clock::now();
    RawReply stopped = raw_exchange(app.port, client_style_request("POST", "/api/screen/record/stop", app.port, "{}"));
    EXPECT_EQ(stopped.status, 200);
    EXPECT_EQ(stopped.body, R"({"stopped":true})");

    RunResult finished = recording.get();
    EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(5 * sanitizer_slowdown));
    ASSERT_EQ(finished.exit_status, 0) << finished.err;
    auto info = probe_media(in_work("screen.webm"));
    EXPECT_EQ(info["codec_name"], "vp8");
    // What ffmpeg had encoded when asked to finish: on a busy machine its
    // encoder runs behind the grabbing, so less than the time it ran.
    double duration = probed_seconds(info["duration"]);
    EXPECT_GT(duration, 0.0);
    EXPECT_LT(duration, 10.0);
    EXPECT_GT(std::atoi(info["nb_read_frames"].c_str()), 0);
    // The next recording is accepted at once.
    EXPECT_EQ(vistrel({"record", "--secs", "1", "--out", "next.webm"}).exit_status, 0);
}

std::string header_value(const std::string& head, const std::string& name) {
    std::string wanted = "\r\n" + name + ": ";
    auto at = head.find(wanted);
    if (at == std::string::npos) return "";
    auto start = at + wanted.size();
    return head.substr(start, head.find("\r\n", start) - start);
}

TEST_F(RecordTest, APreviewShowsFramesOfTheRecordingOnOneSheet) {
    // Read with time to spare: ffmpeg takes the frames out after recording.
    int sock = connect_loopback(app.port);
    ASSERT_TRUE(
        send_bytes(sock, client_style_request("POST", "/api/screen/record", app.port, R"({"secs":2,"preview":5})")));
    RawReply recorded = read_reply(sock, std::chrono::seconds(60 * sanitizer_slowdown));
    close(sock);
    ASSERT_EQ(recorded.status, 200) << recorded.body;
    write_file(in_work("previewed.webm"), recorded.body);
    EXPECT_EQ(probe_media(in_work("previewed.webm"))["codec_name"], "vp8");
    std::string id = header_value(recorded.head, "X-Vistrel-Preview");
    ASSERT_FALSE(id.empty()) << recorded.head;

    RawReply sheet = raw_exchange(app.port, client_style_request("GET", "/api/screen/preview?id=" + id, app.port));
    ASSERT_EQ(sheet.status, 200) << sheet.body;
    std::string path = in_work("sheet.jpg");
    write_file(path, sheet.body);
    auto picture = decode_jpeg_file(path);
    ASSERT_TRUE(picture);
    // Five frames: three columns, two rows of tiles of the screen's shape.
    EXPECT_EQ(picture->width % 3, 0);
    EXPECT_EQ(picture->height % 2, 0);
    EXPECT_NEAR(static_cast<double>(picture->width / 3) / (picture->height / 2),
                static_cast<double>(xvfb_width) / xvfb_height, 0.02);
    EXPECT_LE(std::max(picture->width, picture->height), 1568);
    EXPECT_LE(picture->width * picture->height, 1'150'000);

    RawReply unknown = raw_exchange(app.port, client_style_request("GET", "/api/screen/preview?id=nope", app.port));
    EXPECT_EQ(unknown.status, 404);
    RawReply too_many = raw_exchange(
        app.port, client_style_request("POST", "/api/screen/record", app.port, R"({"secs":1,"preview":37})"));
    EXPECT_EQ(too_many.status, 400);
    EXPECT_EQ(too_many.body, R"x({"error":"a preview has from 0 to 36 frames (got 37)"})x");
}
}  // namespace
