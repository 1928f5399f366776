// Webcams that fail: held by another program, pulled out while in use,
// silent, or sending nothing the app can read. Each is refused with a
// reason within a bound, and the app goes on serving.
#include "app_fixture.h"
#include "sanitizers.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>

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
    // Pulled out after the sweep's third lens move, however many frames the
    // first photo took.
    std::string webcams() const override { return "video0 webcam unplug-after-moves=3\n"; }
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
    // Each stream goes silent after 24 frames: enough for the first photo,
    // its lens already sharp where autofocus parks it, even on a busy machine
    // where the app takes only some of the frames (under the sanitizers,
    // where it takes a few of each ten, after 80, and after 160 under the
    // thread sanitizer, where it takes one or two).
    std::string webcams() const override {
        return "video0 webcam focus-at=0 stall-after=" +
               std::to_string(sanitizer_slowdown >= 8  ? 160
                              : sanitizer_slowdown > 1 ? 80
                                                       : 24) +
               "\n";
    }
};

TEST_F(StallingWebcamTest, AStreamThatStopsIsGivenUpWithinItsBoundAndStartedAfresh) {
    ASSERT_EQ(vistrel({"snap"}).exit_status, 0);
    RunResult r = vistrel({"snap"});
    // Photos from the kept stream until it goes silent (it has frames for a
    // few seconds at most).
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (r.exit_status == 0 && std::chrono::steady_clock::now() < until) r = vistrel({"snap"});
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
    // JPEG cut short); the last camera's every frame. The webcam's lens is
    // sharp where it parks, so that its frames cost the fake little to draw
    // and the app can take every one of them.
    std::string webcams() const override {
        return "video0 fixed damaged-every=2\nvideo2 webcam focus-at=0 damaged-every=2\nvideo4 webcam "
               "damaged-every=1\n";
    }
    std::vector<std::string> camera_limits() const override { return {"--warm-up-frames", "6"}; }
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

namespace {
class RefusingControlTest : public WebcamFaultTest {
protected:
    std::string webcams() const override { return "video0 webcam\n"; }
    std::vector<std::string> camera_limits() const override {
        return {"--frame-timeout-ms", std::to_string(frame_timeout_ms), "--keep-streaming-ms", "20000"};
    }
};

TEST_F(RefusingControlTest, AControlRefusedWhileAnAutomaticModeRulesItSaysWhichAndKeepsTheStream) {
    // The camera's firmware refuses gain while its automatic exposure runs.
    ASSERT_EQ(vistrel({"snap"}).exit_status, 0);
    expect_refused(vistrel({"set", "gain", "10"}),
                   "camera 0 (Fake HD Webcam) refuses gain while its automatic exposure is on; set auto_exposure 0 "
                   "first");
    ASSERT_EQ(vistrel({"snap"}).exit_status, 0);
    auto events = webcam_events();
    EXPECT_EQ(std::count(events.begin(), events.end(), "video0 streamon MJPG 1280x720"), 1);
    EXPECT_EQ(std::count(events.begin(), events.end(), "video0 streamoff"), 0);
    ASSERT_EQ(vistrel({"set", "auto_exposure", "0"}).exit_status, 0);
    EXPECT_EQ(vistrel({"set", "gain", "10"}).out, "\"gain\" = 10 (was 0)\n");
}

class NarrowBusTest : public WebcamFaultTest {
protected:
    // YUYV at 1920x1080 (5 frames a second) and 1280x720 (15) need more than
    // the bus has left; 640x480 at 30 fits. The second camera fits nowhere.
    std::string webcams() const override {
        return "video0 webcam formats=yuyv bandwidth=20\nvideo2 webcam formats=yuyv bandwidth=1\n";
    }
};

TEST_F(NarrowBusTest, AModeTheBusCannotCarryIsRetriedSmallerBeforeRefusing) {
    RunResult r = vistrel({"snap", "--size", "1920x1080", "--out", "big.jpg"});
    ASSERT_EQ(r.exit_status, 0) << r.err;
    auto picture = decode_jpeg_file(in_work("big.jpg"));
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->width, 1920);
    auto events = webcam_events();
    EXPECT_NE(std::find(events.begin(), events.end(), "video0 streamon YUYV 640x480"), events.end());
    expect_refused(vistrel({"snap", "--device", "2"}),
                   "camera 2 (Fake HD Webcam) cannot stream: its USB bus has no room left for any of its modes "
                   "(another camera on the same bus may be using it)");
}

std::uint32_t frame_number(const std::string& jpeg) {
    auto at = jpeg.find("fake frame ");
    return at == std::string::npos ? 0 : static_cast<std::uint32_t>(std::stoul(jpeg.substr(at + 11)));
}

std::uint32_t last_frame_logged(const std::vector<std::string>& events, const std::string& node) {
    std::uint32_t last = 0;
    for (const auto& event : events) {
        if (event.rfind(node + " frame ", 0) == 0)
            last = std::max<std::uint32_t>(last, std::stoul(event.substr(node.size() + 7)));
    }
    return last;
}

class StaleFrameTest : public WebcamFaultTest {
protected:
    // Every third frame arrives with no bytes (its buffer still holds an
    // older frame), every other one decodes only with a warning; the last
    // camera's every frame does.
    std::string webcams() const override {
        return "video0 webcam empty-every=3\nvideo2 webcam warning-every=2\nvideo4 webcam warning-every=1\n";
    }
    std::vector<std::string> camera_limits() const override {
        return {"--frame-timeout-ms", std::to_string(frame_timeout_ms), "--keep-streaming-ms", "20000"};
    }
};

TEST_F(StaleFrameTest, FramesThatArriveEmptyOrDecodeOnlyWithAWarningAreNeverHandedOut) {
    // A third of the frames arrive empty: ten photos meet one all but surely.
    for (int i = 0; i < 10; ++i) {
        std::uint32_t before = last_frame_logged(webcam_events(), "video0");
        ASSERT_EQ(vistrel({"snap", "--device", "0", "--out", "photo.jpg"}).exit_status, 0);
        std::uint32_t taken = frame_number(read_file(in_work("photo.jpg")));
        EXPECT_TRUE(i == 0 || taken > before)
            << "frame " << taken << " is older than the request (after " << before << ")";
        EXPECT_NE(taken % 3, 0u) << "frame " << taken << " arrived empty";
    }
    for (int i = 0; i < 4; ++i) {
        ASSERT_EQ(vistrel({"snap", "--device", "2", "--out", "photo.jpg"}).exit_status, 0);
        std::uint32_t taken = frame_number(read_file(in_work("photo.jpg")));
        EXPECT_NE(taken % 2, 0u) << "frame " << taken << " decodes only with a warning";
    }
    expect_refused(vistrel({"snap", "--device", "4"}),
                   "camera 4 (Fake HD Webcam) sent 3 frames in a row that cannot be read");
}
}  // namespace
