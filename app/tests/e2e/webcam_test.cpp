// Webcams through Video4Linux2, on fake devices (tests/fake_v4l2) that
// behave like UVC webcams: listing, photos in every format and size, the
// warm-up, streaming between requests, controls and the focus sweep.
#include "app_fixture.h"
#include "imaging/mjpeg.h"
#include "imaging/sharpness.h"
#include "sanitizers.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cmath>
#include <regex>
#include <thread>

namespace {
// The webcam's lens is sharp at focus 135 (of 0..250, in steps of 5), where
// it also rests: its autofocus has nothing to hunt for here
// (webcam_settle_test.cpp has it hunt).
constexpr int sharp_focus = 135;
const std::string webcam_and_fixed =
    "video0 webcam focus-at=135 lens-rest=135\nvideo1 metadata bus=usb-fake-0\nvideo2 fixed\n";

class WebcamTest : public AppTest {
protected:
    bool wants_display() const override { return false; }
    bool wants_simulated_camera() const override { return false; }
    std::string webcams() const override { return webcam_and_fixed; }
    // Kept streaming long enough for any burst of requests, however slow
    // the machine.
    std::vector<std::string> camera_limits() const override { return {"--keep-streaming-ms", "20000"}; }

    // The photo a command left, decoded; fails the test when it is not one.
    Image photo(const std::vector<std::string>& args, const std::string& file = "photo.jpg") {
        std::vector<std::string> full = args;
        full.insert(full.end(), {"--out", file});
        RunResult r = vistrel(full);
        EXPECT_EQ(r.exit_status, 0) << r.err;
        auto picture = decode_jpeg_file(in_work(file));
        EXPECT_TRUE(picture) << "not a JPEG";
        return picture.value_or(Image{});
    }

    std::size_t count_events(const std::string& event) const {
        auto events = webcam_events();
        return static_cast<std::size_t>(std::count(events.begin(), events.end(), event));
    }
};

// The mean of each colour channel.
std::array<double, 3> channel_means(const Image& image) {
    std::array<double, 3> sums{0, 0, 0};
    for (std::size_t i = 0; i < image.rgb.size(); ++i) sums[i % 3] += image.rgb[i];
    for (auto& sum : sums) sum /= std::max<std::size_t>(1, image.rgb.size() / 3);
    return sums;
}

TEST_F(WebcamTest, EachCameraIsListedOnceUnderItsNodeNumberAndIsTheDefault) {
    plug(webcam_and_fixed +
         "video3 output\n"
         "video4 h264\n"
         "video5 fixed bus=usb-9 card=Twin\n"
         "video6 fixed bus=usb-9 card=Twin\n");
    const std::string listing =
        "    0  Fake HD Webcam                     focusable\n"
        "    2  Fake Fixed-Focus Camera            fixed focus\n"
        "    4  Fake H.264 Camera                  fixed focus\n"
        "    5  Twin                               fixed focus\n";
    EXPECT_EQ(vistrel({"devices"}).out, listing);
    EXPECT_EQ(vistrel({"status"}).out,
              "vistrel \"0.1.0\" on port " + std::to_string(app.port) + "\n  camera  0\n  size    1280x720\n");
    restart_app();
    EXPECT_EQ(vistrel({"devices"}).out, listing) << "ids must survive a restart";
}

TEST_F(WebcamTest, CamerasPluggedInOrOutShowUpAtTheNextListing) {
    plug("video2 fixed\n");
    EXPECT_EQ(vistrel({"devices"}).out, "    2  Fake Fixed-Focus Camera            fixed focus\n");
    expect_refused(vistrel({"snap", "--device", "0"}), "no device \"0\"; the devices are \"2\"");
    plug("video0 webcam\nvideo2 fixed\n");
    EXPECT_EQ(vistrel({"devices"}).out,
              "    0  Fake HD Webcam                     focusable\n"
              "    2  Fake Fixed-Focus Camera            fixed focus\n");
    EXPECT_EQ(photo({"snap", "--device", "0", "--size", "640x480"}).width, 640);
    plug("");
    EXPECT_EQ(vistrel({"devices"}).out, "no cameras found \xe2\x80\x94 plug one in; any UVC webcam works\n");
}

TEST_F(WebcamTest, TheSimulatedCameraComesOnlyWithItsFlagAndAfterTheRealOnes) {
    auto ids = [&] {
        std::vector<std::string> found;
        auto reply = nlohmann::json::parse(vistrel({"devices", "--json"}).out);
        for (const auto& device : reply.at("devices")) found.push_back(device.at("id"));
        return found;
    };
    EXPECT_EQ(ids(), (std::vector<std::string>{"0", "2"}));
    stop_app(app);
    app = start_app({"--fake-video-devices", video_devices_file(), "--simulated-camera"},
                    clean_environment({"XDG_CONFIG_HOME=" + config_home}), temp + "/app.log");
    EXPECT_EQ(ids(), (std::vector<std::string>{"0", "2", "sim"}));
    EXPECT_NE(vistrel({"status"}).out.find("  camera  0\n"), std::string::npos) << "a real camera stays the default";
    plug("");
    EXPECT_NE(vistrel({"status"}).out.find("  camera  sim\n"), std::string::npos);
}

TEST_F(WebcamTest, MotionJpegPassesThroughWithItsHuffmanTablesRestored) {
    struct Case {
        std::vector<std::string> size;  // --size, or nothing
        int width, height;
        const char* streamed;  // the mode the camera was asked for
        bool camera_bytes;     // the camera's own JPEG, not a re-encoded picture
    };
    const Case cases[] = {
        {{}, 1280, 720, "MJPG 1280x720", true},
        {{"--size", "640x480"}, 640, 480, "MJPG 640x480", true},
        {{"--size", "1920x1080"}, 1920, 1080, "MJPG 1920x1080", true},
        // Not offered: the smallest size covering it, scaled down exactly.
        {{"--size", "800x600"}, 800, 600, "MJPG 1280x720", false},
        {{"--size", "320x180"}, 320, 180, "MJPG 640x480", false},
        // Larger than any: the largest, scaled up.
        {{"--size", "2560x1440"}, 2560, 1440, "MJPG 1920x1080", false},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {"snap"};
        args.insert(args.end(), c.size.begin(), c.size.end());
        Image picture = photo(args);
        std::string bytes = read_file(in_work("photo.jpg"));
        std::string label = c.size.empty() ? "no size" : c.size[1];
        EXPECT_EQ(picture.width, c.width) << label;
        EXPECT_EQ(picture.height, c.height) << label;
        EXPECT_TRUE(has_huffman_tables(bytes)) << label;
        EXPECT_EQ(bytes.find("fake frame ") != std::string::npos, c.camera_bytes) << label;
        EXPECT_EQ(bytes.substr(bytes.size() - 2), "\xFF\xD9") << label << ": the padding after the image must go";
        auto events = webcam_events();
        EXPECT_NE(std::find(events.begin(), events.end(), std::string("video0 streamon ") + c.streamed), events.end())
            << label;
    }
}

TEST_F(WebcamTest, ACameraOfferingARangeOfSizesStreamsTheNearestItCanAndIsScaledExactly) {
    // The fixed camera's YUYV comes in any size to 640x480 in steps of 16:
    // 640x360 is set as 640x368.
    for (int i = 0; i < 2; ++i) {
        Image picture = photo({"snap", "--device", "2", "--size", "640x360"});
        EXPECT_EQ(picture.width, 640);
        EXPECT_EQ(picture.height, 360);
    }
    EXPECT_EQ(count_events("video2 streamon YUYV 640x368"), 1u) << "the adjusted stream is kept between photos";
}

TEST_F(WebcamTest, ACameraPulledOutAndPluggedInBetweenTwoPhotosIsStartedAfresh) {
    photo({"snap"});
    // Out and in again before anything lists the cameras: the stream kept
    // from the first photo now belongs to a device that is gone.
    plug("video0 webcam focus-at=135 lens-rest=135 plugged=2\nvideo1 metadata bus=usb-fake-0\nvideo2 fixed\n");
    Image again = photo({"snap"});
    EXPECT_EQ(again.width, 1280);
    EXPECT_EQ(count_events("video0 streamon MJPG 1280x720"), 2u);
}

TEST_F(WebcamTest, YuvFramesAreEncodedWithTheirColoursAndLevels) {
    // The fixed camera offers NV12 at 1280x720 and YUYV at 640x480; the
    // webcam films the same scene in Motion-JPEG.
    Image nv12 = photo({"snap", "--device", "2"}, "nv12.jpg");
    Image yuyv = photo({"snap", "--device", "2", "--size", "640x480"}, "yuyv.jpg");
    Image reference = photo({"snap", "--device", "0", "--size", "640x480"}, "mjpeg.jpg");
    EXPECT_EQ(nv12.width, 1280);
    EXPECT_EQ(nv12.height, 720);
    EXPECT_EQ(yuyv.width, 640);
    auto events = webcam_events();
    EXPECT_NE(std::find(events.begin(), events.end(), "video2 streamon NV12 1280x720"), events.end());
    EXPECT_NE(std::find(events.begin(), events.end(), "video2 streamon YUYV 640x480"), events.end());
    auto want = channel_means(reference);
    for (const Image* picture : {&yuyv, &nv12}) {
        auto got = channel_means(*picture);
        for (int c = 0; c < 3; ++c) EXPECT_NEAR(got[c], want[c], 6.0) << "channel " << c;
    }
}

TEST_F(WebcamTest, TheFirstPhotoIsAsBrightAsTheTenth) {
    // The camera's first frames are dark (and its first YUV frame green).
    double first = mean_level(photo({"snap", "--size", "640x480"}));
    double first_yuv = mean_level(photo({"snap", "--device", "2", "--size", "640x480"}));
    for (int i = 0; i < 8; ++i) photo({"snap", "--size", "640x480"});
    double tenth = mean_level(photo({"snap", "--size", "640x480"}));
    EXPECT_NEAR(first, tenth, tenth * 0.05);
    EXPECT_NEAR(first_yuv, tenth, tenth * 0.1);
}

class EndlessDarkWebcamTest : public WebcamTest {
protected:
    std::string webcams() const override { return "video0 webcam dark-frames=100000\n"; }
    std::vector<std::string> camera_limits() const override { return {"--warm-up-frames", "10"}; }
};

TEST_F(EndlessDarkWebcamTest, WarmUpEndsAtItsBound) {
    RunResult r = vistrel({"snap", "--size", "640x480"});
    EXPECT_EQ(r.exit_status, 0) << r.err;
    EXPECT_LT(r.took.count(), 5000);
}

TEST_F(WebcamTest, ABurstOfPhotosStartsTheCameraOnce) {
    for (int i = 0; i < 3; ++i) photo({"snap"});
    EXPECT_EQ(count_events("video0 streamon MJPG 1280x720"), 1u);
    EXPECT_EQ(count_events("video0 streamoff"), 0u);
}

// Released soon after the last request.
class ReleaseTest : public WebcamTest {
protected:
    std::vector<std::string> camera_limits() const override { return {"--keep-streaming-ms", "300"}; }
};

TEST_F(ReleaseTest, AnIdleCameraIsGivenBackToOtherPrograms) {
    photo({"snap"});
    // Closing, after the stream is off, is the last thing the app does with
    // an idle camera.
    auto released = [&] {
        auto events = webcam_events();
        return count_events("video0 streamoff") > 0 && !events.empty() && events.back() == "video0 close";
    };
    for (int waited = 0; waited < 100 && !released(); ++waited) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    auto events = webcam_events();
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(events[events.size() - 2], "video0 streamoff");
    EXPECT_EQ(events.back(), "video0 close");
    photo({"snap"});
    EXPECT_EQ(count_events("video0 streamon MJPG 1280x720"), 2u);
}

TEST_F(WebcamTest, ControlsAreTheCamerasOwnUnderTheAppsNames) {
    RunResult r = vistrel({"controls"});
    ASSERT_EQ(r.exit_status, 0) << r.err;
    // Hue (ruled by an automatic mode the app leaves alone) and pan
    // (disabled) are not offered.
    EXPECT_EQ(r.out,
              "  focus          0..250  now 135\n"
              "  autofocus      0..1  now 1\n"
              "  zoom           100..500  now 100\n"
              "  exposure       3..2047  now 250\n"
              "  auto_exposure  0..1  now 1\n"
              "  brightness     0..255  now 128\n"
              "  contrast       0..255  now 128\n"
              "  saturation     0..255  now 128\n"
              "  gain           0..255  now 0\n"
              "  white_balance  2000..6500  now 4000\n"
              "  auto_white_balance 0..1  now 1\n"
              "  power_line_frequency 0..2  now 1\n");
    EXPECT_EQ(vistrel({"controls", "--device", "2"}).out,
              "  exposure       3..2047  now 250\n"
              "  auto_exposure  0..1  now 1\n"
              "  brightness     0..255  now 128\n"
              "  contrast       0..255  now 128\n");
}

TEST_F(WebcamTest, SettingAControlSwitchesItsAutomaticModeOffFirst) {
    EXPECT_EQ(vistrel({"set", "focus", "60"}).out, "\"focus\" = 60 (was 135)\n");
    EXPECT_EQ(vistrel({"set", "exposure", "500"}).out, "\"exposure\" = 500 (was 250)\n");
    EXPECT_EQ(vistrel({"set", "white_balance", "3000"}).out, "\"white_balance\" = 3000 (was 4000)\n");
    auto events = webcam_events();
    std::vector<std::string> settings;
    for (const auto& event : events) {
        if (event.rfind("video0 set ", 0) == 0) settings.push_back(event.substr(11));
    }
    EXPECT_EQ(settings,
              (std::vector<std::string>{"focus_auto=0", "focus_absolute=60", "exposure_auto=1", "exposure_absolute=500",
                                        "white_balance_temperature_auto=0", "white_balance_temperature=3000"}));
    std::string controls = vistrel({"controls"}).out;
    for (const char* line :
         {"  autofocus      0..1  now 0\n", "  auto_exposure  0..1  now 0\n", "  focus          0..250  now 60\n"}) {
        EXPECT_NE(controls.find(line), std::string::npos) << line << controls;
    }
    // And back to automatic, in the camera's own automatic mode.
    EXPECT_EQ(vistrel({"set", "auto_exposure", "1"}).out, "\"auto_exposure\" = 1 (was 0)\n");
    auto after = webcam_events();
    EXPECT_NE(std::find(after.begin() + static_cast<long>(events.size()), after.end(), "video0 set exposure_auto=3"),
              after.end());
}

TEST_F(WebcamTest, ControlValuesChangeThePicture) {
    double normal = mean_level(photo({"snap", "--size", "640x480"}));
    ASSERT_EQ(vistrel({"set", "exposure", "100"}).exit_status, 0);
    double darker = mean_level(photo({"snap", "--size", "640x480"}));
    EXPECT_LT(darker, normal * 0.6) << "exposure 100 of 250 should darken the picture";
}

TEST_F(WebcamTest, BadControlsAreRefusedAndChangeNothing) {
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const std::string names =
        "focus, autofocus, zoom, exposure, auto_exposure, brightness, contrast, saturation, gain, white_balance, "
        "auto_white_balance, power_line_frequency";
    const Case cases[] = {
        {{"set", "focus", "251"}, "focus must be between 0 and 250 (got 251)"},
        {{"set", "exposure", "2"}, "exposure must be between 3 and 2047 (got 2)"},
        {{"set", "auto_exposure", "2"}, "auto_exposure must be between 0 and 1 (got 2)"},
        {{"set", "hue", "5"}, "unknown control \"hue\"; the controls are " + names},
        {{"set", "pan", "0"}, "unknown control \"pan\"; the controls are " + names},
        {{"set", "focus", "5", "--device", "2"},
         "unknown control \"focus\"; the controls are exposure, auto_exposure, brightness, contrast"},
    };
    for (const auto& c : cases) expect_refused(vistrel(c.args), c.message);
    EXPECT_EQ(count_events("video0 set focus_auto=0"), 0u) << "a refused value must change nothing";
}

TEST_F(WebcamTest, LookSweepsTheLensLocksItAndTakesASharpPhoto) {
    ASSERT_EQ(vistrel({"set", "focus", "0"}).exit_status, 0);
    Image blurred = photo({"snap"}, "blurred.jpg");

    RunResult look = vistrel({"look", "--out", "focused.jpg"});
    ASSERT_EQ(look.exit_status, 0) << look.err;
    std::smatch m;
    ASSERT_TRUE(
        std::regex_match(look.out, m, std::regex(R"(focus (\d+) \(sharpness (\d+)\)\nfocused\.jpg  \d+ bytes\n)")))
        << look.out;
    int locked = std::stoi(m[1]);
    EXPECT_LE(std::abs(locked - sharp_focus), 10) << "locked at " << locked;
    auto focused = decode_jpeg_file(in_work("focused.jpg"));
    ASSERT_TRUE(focused);
    EXPECT_GT(laplacian_variance(*focused), 10 * laplacian_variance(blurred));

    // The sweep and the photo used one stream; the lens stays locked.
    EXPECT_EQ(count_events("video0 streamon MJPG 1280x720"), 1u);
    EXPECT_NE(vistrel({"controls"}).out.find("  focus          0..250  now " + std::to_string(locked) + "\n"),
              std::string::npos);
}

TEST_F(WebcamTest, ASweepTurnsAutofocusOffAndTakesAtMost40Frames) {
    RunResult r = vistrel({"focus", "--json"});
    ASSERT_EQ(r.exit_status, 0) << r.err;
    auto sweep = nlohmann::json::parse(r.out).at("sweep");
    int locked = sweep.at("focus").get<int>();
    EXPECT_LE(std::abs(locked - sharp_focus), 10) << "locked at " << locked;
    EXPECT_EQ(locked % 5, 0) << "positions follow the lens's own step";
    EXPECT_GE(sweep.at("samples").size(), 9u);

    // The frames taken from the first move of the lens to the lock.
    auto events = webcam_events();
    auto first_move = std::find_if(events.begin(), events.end(),
                                   [](const std::string& e) { return e.rfind("video0 set focus_absolute=", 0) == 0; });
    ASSERT_NE(first_move, events.end());
    auto autofocus_off = std::find(events.begin(), events.end(), "video0 set focus_auto=0");
    EXPECT_LT(autofocus_off, first_move) << "continuous autofocus must be off before the lens is moved";
    // Frames that piled up while the app measured are dropped uncounted.
    auto frames =
        std::count_if(first_move, events.end(), [](const std::string& e) { return e.rfind("video0 frame ", 0) == 0; });
    long counted = sweep.at("frames").get<long>();
    EXPECT_LE(counted, 40);
    EXPECT_GE(counted, static_cast<long>(sweep.at("samples").size()));
    EXPECT_EQ(counted + sweep.at("discarded").get<long>(), frames);
    EXPECT_EQ(events.back(), "video0 set focus_absolute=" + std::to_string(locked));
}

TEST_F(WebcamTest, OnlyCamerasWithAFocusMotorFocus) {
    expect_refused(vistrel({"focus", "--device", "2"}),
                   "camera 2 (Fake Fixed-Focus Camera) has a fixed-focus lens; the cameras that can focus are \"0\"");
    expect_refused(vistrel({"look", "--device", "2"}),
                   "camera 2 (Fake Fixed-Focus Camera) has a fixed-focus lens; the cameras that can focus are \"0\"");
}

// The sweep finds the lens's sharp position wherever it is.
class WebcamFocusTest : public WebcamTest, public ::testing::WithParamInterface<int> {
protected:
    std::string webcams() const override { return "video0 webcam focus-at=" + std::to_string(GetParam()) + "\n"; }
};

TEST_P(WebcamFocusTest, LocksNearTheSharpPosition) {
    RunResult r = vistrel({"focus", "--json"});
    ASSERT_EQ(r.exit_status, 0) << r.err;
    int locked = nlohmann::json::parse(r.out).at("sweep").at("focus").get<int>();
    EXPECT_LE(std::abs(locked - GetParam()), 10) << "locked at " << locked;
}

INSTANTIATE_TEST_SUITE_P(Hidden, WebcamFocusTest, ::testing::Values(10, 100, 245));

// A driver that does not stamp its frames: the time they arrive stands in.
class UnstampedWebcamTest : public WebcamTest {
protected:
    std::string webcams() const override { return "video0 webcam focus-at=135 no-timestamps\n"; }
};

TEST_F(UnstampedWebcamTest, PhotosAndSweepsStillWork) {
    // Unstamped frames are dated by when they are taken. Under the sanitizers
    // the fake camera, built into the app, draws a frame in several frame
    // periods, so that arrival says little about exposure.
    if (sanitizer_slowdown > 1) GTEST_SKIP() << "the fake camera is too slow under the sanitizers for unstamped frames";
    double first = mean_level(photo({"snap", "--size", "640x480"}));
    double later = mean_level(photo({"snap", "--size", "640x480"}));
    EXPECT_NEAR(first, later, later * 0.05);
    RunResult r = vistrel({"focus", "--json"});
    ASSERT_EQ(r.exit_status, 0) << r.err;
    auto sweep = nlohmann::json::parse(r.out).at("sweep");
    EXPECT_LE(std::abs(sweep.at("focus").get<int>() - sharp_focus), 10) << sweep.dump();
    EXPECT_LE(sweep.at("frames").get<int>(), 40);
}
}  // namespace

namespace {
std::size_t count_opens(const std::vector<std::string>& events) {
    return static_cast<std::size_t>(std::count_if(events.begin(), events.end(), [](const std::string& e) {
        return e.size() > 5 && e.compare(e.size() - 5, 5, " open") == 0;
    }));
}

TEST_F(WebcamTest, StatusAndDevicesDoNotOpenTheCamerasAtEveryRequest) {
    // Opening a node can wake a USB camera from its power saving: the list
    // is kept, and read again only when the device nodes change.
    ASSERT_EQ(vistrel({"devices"}).exit_status, 0);
    std::size_t opened = count_opens(webcam_events());
    for (int i = 0; i < 10; ++i) {
        ASSERT_EQ(vistrel({"status"}).exit_status, 0);
        ASSERT_EQ(vistrel({"devices"}).exit_status, 0);
    }
    EXPECT_EQ(count_opens(webcam_events()), opened);
    plug(webcam_and_fixed + "video3 fixed card=Another\n");
    EXPECT_NE(vistrel({"devices"}).out.find("    3  Another "), std::string::npos) << "a camera plugged in is seen";
}

// The infrared camera of a laptop's face login sits beside its webcam.
class InfraredWebcamTest : public WebcamTest {
protected:
    std::string webcams() const override { return "video0 ir\nvideo2 webcam\n"; }
};

TEST_F(InfraredWebcamTest, AGreyscaleOnlyCameraIsListedButNeverTheDefault) {
    EXPECT_EQ(vistrel({"devices"}).out,
              "    0  Fake IR Camera                     fixed focus\n"
              "    2  Fake HD Webcam                     focusable\n");
    EXPECT_NE(vistrel({"status"}).out.find("  camera  2\n"), std::string::npos);
    Image infrared = photo({"snap", "--device", "0"});
    EXPECT_EQ(infrared.width, 640);
    EXPECT_EQ(infrared.height, 360);
    plug("video0 ir\n");
    expect_refused(vistrel({"snap"}),
                   "no camera found: plug in a webcam (any UVC webcam works), or start vistrel-app with "
                   "--simulated-camera for a test picture (camera 0 (Fake IR Camera) sees only in greyscale or "
                   "infrared; ask for it by name with --device 0)");
}

// A camera slow enough that a sweep takes seconds.
class SlowWebcamTest : public WebcamTest {
protected:
    std::string webcams() const override { return "video0 webcam fps=10 focus-at=135\n"; }
};

TEST_F(SlowWebcamTest, ControlsAndStatusAnswerWhileASweepRuns) {
    ASSERT_EQ(vistrel({"snap", "--out", "first.jpg"}).exit_status, 0);
    RunResult sweep;
    std::thread sweeping([&] { sweep = vistrel({"focus"}); });
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    RunResult controls = vistrel({"controls"});
    RunResult status = vistrel({"status"});
    sweeping.join();
    ASSERT_EQ(sweep.exit_status, 0) << sweep.err;
    ASSERT_GT(sweep.took.count(), 2000) << "the sweep must still have been running";
    EXPECT_EQ(controls.exit_status, 0) << controls.err;
    EXPECT_NE(controls.out.find("  autofocus      0..1  now "), std::string::npos) << controls.out;
    EXPECT_LT(controls.took.count(), 1000 * sanitizer_slowdown);
    EXPECT_EQ(status.exit_status, 0) << status.err;
    EXPECT_LT(status.took.count(), 1000 * sanitizer_slowdown);
}
}  // namespace
