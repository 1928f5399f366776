#include "recording/recorder.h"
#include "endpoints/endpoints.h"
#include "fault.h"
#include "no_descriptors_left.h"
#include "screen/frame_feed.h"
#include "screen/x11_screen.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace {
// A screen that is always there and that ffmpeg reads by itself.
class StillScreen : public ScreenBackend {
public:
    const char* name() const override { return "still"; }
    ScreenState state() override { return {ScreenInfo{":9", {64, 48}}, ""}; }
    std::vector<WindowInfo> windows() override { return {}; }
    void capture(const ScreenRequest&, const ScreenShotUse&) override {
        throw Fault{FaultKind::unsupported, "a still screen has no pictures"};
    }
    RecordingInput start_recording(const std::filesystem::path&, int) override {
        return {{"-f", "lavfi", "-i", "color=black:size=64x48"}, nullptr};
    }
};
RecordingRequest parse(const char* body) {
    return parse_recording_request(nlohmann::json::parse(body));
}

TEST(Recorder, DefaultsToFiveSecondsOfWebm) {
    for (const char* body : {"{}", R"({"format":null,"secs":null})"}) {
        RecordingRequest r = parse(body);
        EXPECT_EQ(r.format, RecordingFormat::webm);
        EXPECT_EQ(r.secs, 5);
    }
    RecordingRequest mp4 = parse(R"({"format":"mp4","secs":120})");
    EXPECT_EQ(mp4.format, RecordingFormat::mp4);
    EXPECT_EQ(mp4.secs, 120);
    EXPECT_EQ(parse(R"({"format":"webm","secs":1})").secs, 1);
}

TEST(Recorder, RefusesOtherFormatsAndLengths) {
    struct Case {
        const char* body;
        const char* message;
    };
    const Case cases[] = {
        {R"({"format":"mkv"})", "unknown recording format \"mkv\"; use webm or mp4"},
        {R"({"format":"MP4"})", "unknown recording format \"MP4\"; use webm or mp4"},
        {R"({"format":""})", "unknown recording format \"\"; use webm or mp4"},
        {R"({"secs":0})", "a recording lasts from 1 to 120 seconds (got 0)"},
        {R"({"secs":121})", "a recording lasts from 1 to 120 seconds (got 121)"},
        {R"({"secs":4294967295})", "a recording lasts from 1 to 120 seconds (got 4294967295)"},
        {R"({"secs":-3})", "a recording lasts from 1 to 120 seconds (got -3)"},
        {R"({"secs":2.5})", "\"secs\" must be a whole number"},
        {R"({"secs":"2"})", "\"secs\" must be a whole number"},
        {R"({"format":5})", "\"format\" must be a string or null"},
    };
    for (const auto& c : cases) {
        try {
            parse(c.body);
            ADD_FAILURE() << c.body << " was accepted";
        } catch (const Fault& f) {
            EXPECT_EQ(f.kind, FaultKind::bad_argument);
            EXPECT_EQ(f.message, c.message);
        }
    }
}

TEST(Recorder, FfmpegGrabsTheDisplayWithEvenSidesAndTheChosenCodec) {
    auto has = [](const std::vector<std::string>& args, const std::string& a, const std::string& b) {
        for (std::size_t i = 0; i + 1 < args.size(); ++i) {
            if (args[i] == a && args[i + 1] == b) return true;
        }
        return false;
    };
    ScreenInfo screen{":7", {1281, 721}};
    auto webm = ffmpeg_arguments({RecordingFormat::webm, 3}, x11grab_input(screen, 25), "/tmp/x/screen.webm");
    EXPECT_EQ(webm.front(), "ffmpeg");
    EXPECT_EQ(webm.back(), "/tmp/x/screen.webm");
    EXPECT_TRUE(has(webm, "-f", "x11grab"));
    EXPECT_TRUE(has(webm, "-i", ":7"));
    EXPECT_TRUE(has(webm, "-video_size", "1280x720"));
    EXPECT_TRUE(has(webm, "-framerate", "25"));
    EXPECT_TRUE(has(webm, "-thread_queue_size", "64"));
    EXPECT_TRUE(has(webm, "-t", "3"));
    EXPECT_TRUE(has(webm, "-fps_mode", "cfr"));
    EXPECT_TRUE(has(webm, "-r", "25"));
    EXPECT_TRUE(has(webm, "-c:v", "libvpx"));
    EXPECT_TRUE(has(webm, "-f", "webm"));

    auto mp4 = ffmpeg_arguments({RecordingFormat::mp4, 120}, x11grab_input(screen, 25), "/tmp/x/screen.mp4");
    EXPECT_TRUE(has(mp4, "-c:v", "libx264"));
    EXPECT_TRUE(has(mp4, "-pix_fmt", "yuv420p"));
    EXPECT_TRUE(has(mp4, "-t", "120"));
    EXPECT_TRUE(has(mp4, "-f", "mp4"));

    // Frames waiting for the encoder take at most about 256 MiB.
    auto big = ffmpeg_arguments({RecordingFormat::webm, 3}, x11grab_input({":7", {3840, 2160}}, 25), "/tmp/x/s.webm");
    EXPECT_TRUE(has(big, "-thread_queue_size", "8"));
}

// A Wayland screen is fed as raw video; everything after the input is what
// the X display gets, so that the files are alike.
TEST(Recorder, RawVideoFromWaylandIsEncodedExactlyLikeTheXDisplay) {
    std::vector<std::string> raw = raw_video_input(xrgb_layout, 640, 480, 25, "/tmp/x/screen.raw");
    EXPECT_EQ(raw, (std::vector<std::string>{"-f", "rawvideo", "-pixel_format", "0rgb", "-video_size", "640x480",
                                             "-framerate", "25", "-i", "/tmp/x/screen.raw"}));
    std::vector<std::string> x11 = x11grab_input({":0", {640, 480}}, 25);
    // The options around the input.
    auto around = [](const std::vector<std::string>& args, const std::vector<std::string>& input) {
        auto at = std::search(args.begin(), args.end(), input.begin(), input.end());
        if (at == args.end()) return std::vector<std::string>{"input missing"};
        std::vector<std::string> rest(args.begin(), at);
        rest.push_back("INPUT");
        rest.insert(rest.end(), at + static_cast<std::ptrdiff_t>(input.size()), args.end());
        return rest;
    };
    for (RecordingFormat format : {RecordingFormat::webm, RecordingFormat::mp4}) {
        EXPECT_EQ(around(ffmpeg_arguments({format, 2}, raw, "/tmp/x/out"), raw),
                  around(ffmpeg_arguments({format, 2}, x11, "/tmp/x/out"), x11));
    }
}
TEST(Recorder, RunningOutOfDescriptorsIsSaidSo) {
    if (sanitizer_needs_descriptors) GTEST_SKIP() << "the sanitizer's own checks need a descriptor";
    // Not "install ffmpeg", nor a folder problem: the app is out of
    // descriptors, and a later try may work.
    StillScreen screen;
    ChildSpawner children;
    auto recorder = make_ffmpeg_recorder(screen, children);
    Fault refused{FaultKind::failed, "(recorded)"};
    {
        NoDescriptorsLeft none;
        try {
            recorder->record({RecordingFormat::webm, 1}, [] { return false; });
        } catch (const Fault& fault) {
            refused = fault;
        }
    }
    EXPECT_EQ(refused.kind, FaultKind::exhausted) << refused.message;
    EXPECT_NE(refused.message.find("Too many open files"), std::string::npos) << refused.message;
}
}  // namespace
