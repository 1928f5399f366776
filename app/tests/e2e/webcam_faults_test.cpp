// Webcams that fail: held by another program, pulled out while in use,
// silent, or sending nothing the app can read. Each is refused with a
// reason within a bound, and the app goes on serving.
#include "app_fixture.h"
#include "sanitizers.h"

#include <filesystem>

namespace {
class WebcamFaultTest : public AppTest {
protected:
    bool wants_display() const override { return false; }
    bool wants_simulated_camera() const override { return false; }
    std::vector<std::string> camera_limits() const override {
        return {"--frame-timeout-ms", std::to_string(frame_timeout_ms)};
    }
    // The fake cameras draw their frames inside the app, several times
    // slower under the sanitizers.
    static constexpr int frame_timeout_ms = 800 * sanitizer_slowdown;
};

class BusyWebcamTest : public WebcamFaultTest {
protected:
    std::string webcams() const override { return "video0 webcam busy\n"; }
};

TEST_F(BusyWebcamTest, ACameraHeldByAnotherProgramIsRefusedButItsControlsWork) {
    const std::string busy =
        "camera 0 (Fake HD Webcam) is busy: another program is using it; close that program and try again";
    expect_refused(vistrel({"snap"}), busy);
    expect_refused(vistrel({"focus"}), busy);
    expect_refused(vistrel({"look"}), busy);
    EXPECT_FALSE(std::filesystem::exists(in_work("vistrel.jpg")));
    RunResult controls = vistrel({"controls"});
    EXPECT_EQ(controls.exit_status, 0) << controls.err;
    EXPECT_NE(controls.out.find("  focus "), std::string::npos);
}

class UnpluggedWebcamTest : public WebcamFaultTest {
protected:
    // Gone after 5 frames: during the warm-up of the first photo.
    std::string webcams() const override { return "video0 webcam unplug-after=5\nvideo2 fixed\n"; }
};

TEST_F(UnpluggedWebcamTest, ACameraPulledOutDuringAPhotoIsRefusedAndDisappears) {
    RunResult r = vistrel({"snap", "--device", "0"});
    expect_refused(r, "camera 0 (Fake HD Webcam) is gone: it was unplugged");
    EXPECT_LT(r.took.count(), 5000 * sanitizer_slowdown);
    EXPECT_EQ(vistrel({"devices"}).out, "    2  Fake Fixed-Focus Camera            fixed focus\n");
    expect_refused(vistrel({"snap", "--device", "0"}), "no device \"0\"; the devices are \"2\"");
    // The other camera is now the default.
    EXPECT_EQ(vistrel({"snap", "--size", "64x48"}).exit_status, 0);
}

class UnpluggedDuringSweepTest : public WebcamFaultTest {
protected:
    // The first photo takes about a dozen frames; the sweep runs into the 30th.
    std::string webcams() const override { return "video0 webcam unplug-after=30\n"; }
};

TEST_F(UnpluggedDuringSweepTest, ACameraPulledOutDuringASweepIsRefused) {
    ASSERT_EQ(vistrel({"snap"}).exit_status, 0);
    RunResult r = vistrel({"focus"});
    expect_refused(r, "camera 0 (Fake HD Webcam) is gone: it was unplugged");
    EXPECT_LT(r.took.count(), 5000 * sanitizer_slowdown);
    expect_refused(vistrel({"snap"}),
                   "no camera found: plug in a webcam (any UVC webcam works), or start vistrel-app with "
                   "--simulated-camera for a test picture");
}

class StallingWebcamTest : public WebcamFaultTest {
protected:
    // Each stream goes silent after 16 frames: enough for the first photo
    // (under the sanitizers, where frames come late and more are dropped as
    // stale, after 40).
    std::string webcams() const override {
        return "video0 webcam stall-after=" + std::to_string(sanitizer_slowdown > 1 ? 40 : 16) + "\n";
    }
};

TEST_F(StallingWebcamTest, AStreamThatStopsIsGivenUpWithinItsBoundAndStartedAfresh) {
    ASSERT_EQ(vistrel({"snap"}).exit_status, 0);
    // The kept stream has gone silent by now.
    RunResult r = vistrel({"snap"});
    for (int i = 0; i < 40 && r.exit_status == 0; ++i) r = vistrel({"snap"});
    expect_refused(r, "camera 0 (Fake HD Webcam) stopped sending frames (none usable for " +
                          std::to_string(frame_timeout_ms) + " ms)");
    EXPECT_LT(r.took.count(), 5000 * sanitizer_slowdown);
    // The next request starts a new stream, which delivers again.
    RunResult again = vistrel({"snap"});
    EXPECT_EQ(again.exit_status, 0) << again.err;
}

class DamagingWebcamTest : public WebcamFaultTest {
protected:
    // Every other frame arrives damaged (YUV flagged by the driver, or a
    // JPEG cut short); the last camera's every frame.
    std::string webcams() const override {
        return "video0 fixed damaged-every=2\nvideo2 webcam damaged-every=2\nvideo4 webcam damaged-every=1\n";
    }
    std::vector<std::string> camera_limits() const override { return {"--warm-up-ms", "200"}; }
};

TEST_F(DamagingWebcamTest, DamagedFramesAreReplacedByTheNextAndNeverHandedOut) {
    // Under the thread sanitizer the app takes only every other frame of the
    // fake camera it draws itself, which here are all the damaged ones.
    if (sanitizer_slowdown >= 8) GTEST_SKIP() << "the fake camera is too slow under the thread sanitizer";
    const std::vector<std::vector<std::string>> photos = {
        {"snap", "--device", "0"},                       // NV12
        {"snap", "--device", "0", "--size", "640x480"},  // YUYV
        {"snap", "--device", "2"},                       // Motion-JPEG as sent
        {"snap", "--device", "2", "--size", "800x600"},  // Motion-JPEG scaled
    };
    for (auto args : photos) {
        args.insert(args.end(), {"--out", "photo.jpg"});
        RunResult r = vistrel(args);
        ASSERT_EQ(r.exit_status, 0) << args.back() << ": " << r.err;
        std::string bytes = read_file(in_work("photo.jpg"));
        EXPECT_EQ(bytes.substr(bytes.size() - 2), "\xFF\xD9");
        EXPECT_TRUE(decode_jpeg_file(in_work("photo.jpg")));
    }
    RunResult broken = vistrel({"snap", "--device", "4"});
    expect_refused(broken, "camera 4 (Fake HD Webcam) sent 3 frames in a row that cannot be read");
    EXPECT_LT(broken.took.count(), 5000);
}

class UnreadableWebcamTest : public WebcamFaultTest {
protected:
    std::string webcams() const override { return "video4 h264\n"; }
};

TEST_F(UnreadableWebcamTest, ACameraWithoutAReadableFormatIsRefusedByName) {
    const std::string unreadable =
        "camera 4 (Fake H.264 Camera) offers no picture format vistrel-app can read (it offers H264; MJPEG, YUYV "
        "and NV12 can be read)";
    expect_refused(vistrel({"snap"}), unreadable);
    expect_refused(vistrel({"snap", "--device", "4", "--size", "640x480"}), unreadable);
    EXPECT_EQ(vistrel({"status"}).exit_status, 0);
    EXPECT_EQ(vistrel({"controls"}).out, "") << "it has no controls to list";
}
}  // namespace
