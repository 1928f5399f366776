// The shared streaming camera over the fake capture devices, on every
// platform: warm-up and settling by frames, the mode it streams in, the bus
// that cannot carry a mode, regions, the sweep, the controls while it is
// busy, the listing, and each fault in the user's words. The fakes pace
// their frames in real time; the pictures are judged from their luma plane,
// and the replies are recorded instead of compressed.
#include "cameras/streaming_camera.h"
#include "cameras/camera_registry.h"
#include "fake_capture_devices.h"
#include "imaging/frame_luma.h"
#include "sanitizers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <mutex>
#include <thread>

namespace {
using std::chrono::milliseconds;

struct Reply {
    CameraFrame frame;
    std::optional<FrameRegion> crop;
    FrameSize size;
};

struct Replies {
    std::mutex mutex;
    std::vector<Reply> made;
};

// Frames judged from their luma; a reply is recorded, and its "JPEG" names
// its size.
FrameWork luma_work(std::shared_ptr<Replies> replies) {
    FrameWork work;
    work.look = [](const CameraFrame& frame, bool sharpness) -> std::optional<FrameLook> {
        auto level = luma_level(frame);
        auto sharp = sharpness ? luma_sharpness(frame) : std::optional<double>(0.0);
        if (!level || !sharp) return std::nullopt;
        return FrameLook{*level, *sharp};
    };
    work.jpeg = [replies](const CameraFrame& frame, const std::optional<FrameRegion>& crop, FrameSize size) {
        if (!luma_line(frame)) return std::string();
        std::lock_guard lock(replies->mutex);
        replies->made.push_back({frame, crop, size});
        return std::to_string(size.width) + "x" + std::to_string(size.height);
    };
    return work;
}

struct Look {
    double level = 0;
    double sharpness = 0;
};

class StreamingCameraTest : public ::testing::Test {
protected:
    void plug(const std::string& set, CameraTimings limits = {}) {
        limits.frame_timeout = milliseconds(500 * sanitizer_slowdown);
        limits.keep_streaming = milliseconds(20000);
        limits.controls_wait = milliseconds(100);
        devices = std::make_shared<FakeCaptureDevices>(set);
        registry.backends.clear();
        registry.backends.push_back(std::make_unique<StreamingCameras>(devices, limits, luma_work(replies)));
    }

    std::shared_ptr<Camera> camera(const std::string& id = "0") {
        auto found = find_camera(registry, id);
        EXPECT_TRUE(found) << "no camera " << id;
        return found;
    }

    Reply photo(Camera& camera, const SizeRequest& size = {}) {
        camera.capture_jpeg(size);
        std::lock_guard lock(replies->mutex);
        return replies->made.back();
    }

    static Look look_of(const Reply& reply) { return {*luma_level(reply.frame), *luma_sharpness(reply.frame)}; }

    // A photo once the camera has streamed for a while.
    Look settled(Camera& camera, milliseconds streaming, const SizeRequest& size = {}) {
        auto until = std::chrono::steady_clock::now() + streaming;
        Reply last = photo(camera, size);
        while (std::chrono::steady_clock::now() < until) {
            std::this_thread::sleep_for(milliseconds(100));
            last = photo(camera, size);
        }
        return look_of(last);
    }

    std::size_t count(const std::string& event) const {
        auto events = devices->events();
        return static_cast<std::size_t>(std::count(events.begin(), events.end(), event));
    }

    std::shared_ptr<FakeCaptureDevices> devices;
    std::shared_ptr<Replies> replies = std::make_shared<Replies>();
    CameraRegistry registry;
};

void expect_like(const Look& got, const Look& settled, const std::string& what) {
    EXPECT_NEAR(got.level, settled.level, settled.level * 0.1) << what << ": brightness";
    EXPECT_NEAR(got.sharpness, settled.sharpness, settled.sharpness * 0.1) << what << ": sharpness";
}

TEST_F(StreamingCameraTest, TheFirstPhotoWaitsForExposureAndAutofocusToSettle) {
    // Autofocus starts from its parked lens, two thirds of the range away.
    plug("video0 webcam formats=yuyv focus-at=160");
    auto webcam = camera();
    Look first = look_of(photo(*webcam, {640, 480}));
    expect_like(first, settled(*webcam, milliseconds(1500), {640, 480}), "first photo");
}

TEST_F(StreamingCameraTest, WarmUpIsBoundedByFramesNotByTheClock) {
    // Exposure settles over 12 frames at 10 a second: past a second.
    plug("video0 webcam formats=yuyv fps=10 dark-frames=12 focus-at=0");
    auto webcam = camera();
    Look first = look_of(photo(*webcam, {640, 480}));
    expect_like(first, settled(*webcam, milliseconds(1000), {640, 480}), "first photo at 10 frames a second");
}

TEST_F(StreamingCameraTest, APhotoAfterAControlChangeWaitsForTheCameraToFollow) {
    plug("video0 webcam formats=yuyv focus-at=120");
    auto webcam = camera();
    Look normal = settled(*webcam, milliseconds(1500), {640, 480});
    webcam->set_control("exposure", 40);
    webcam->set_control("auto_exposure", 1);
    expect_like(look_of(photo(*webcam, {640, 480})), normal, "after auto_exposure 1");
    webcam->set_control("focus", 250);
    webcam->set_control("autofocus", 1);
    expect_like(look_of(photo(*webcam, {640, 480})), normal, "after autofocus 1");
    EXPECT_EQ(count("0 start YUYV 640x480 30"), 1u) << "a control change does not restart the stream";
}

TEST_F(StreamingCameraTest, AModeTheBusCannotCarryIsRetriedSmallerBeforeRefusing) {
    plug("video0 webcam formats=yuyv bandwidth=20 focus-at=0\nvideo2 webcam formats=yuyv bandwidth=1");
    Reply big = photo(*camera(), {1920, 1080});
    EXPECT_EQ(big.size, (FrameSize{1920, 1080}));
    EXPECT_EQ(big.frame.width, 640);
    auto events = devices->events();
    auto refused = std::find(events.begin(), events.end(), "0 no bandwidth for YUYV 1920x1080");
    auto smaller = std::find(events.begin(), events.end(), "0 no bandwidth for YUYV 1280x720");
    auto started = std::find(events.begin(), events.end(), "0 start YUYV 640x480 30");
    EXPECT_TRUE(refused < smaller && smaller < started && started != events.end());
    try {
        camera("2")->capture_jpeg({});
        ADD_FAILURE() << "a camera no mode of which fits on the bus";
    } catch (const Fault& fault) {
        EXPECT_EQ(fault.kind, FaultKind::exhausted);
    }
}

TEST_F(StreamingCameraTest, ARegionIsCutFromAModeOfTheSameShapeLargeEnoughForIt) {
    // YUYV 640x480 at 30, 1280x720 at 15 (its own size), 1920x1080 at 5.
    plug("video0 webcam formats=yuyv focus-at=0 dark-frames=2");
    auto webcam = camera();
    ASSERT_EQ(webcam->default_size(), (FrameSize{1280, 720}));
    SizeRequest quarter{std::nullopt, std::nullopt, FrameRegion{640, 360, 640, 360}};
    Reply native = photo(*webcam, quarter);
    EXPECT_EQ(native.frame.width, 1280);
    EXPECT_EQ(native.crop, (FrameRegion{640, 360, 640, 360}));
    EXPECT_EQ(native.size, (FrameSize{640, 360}));
    // Twice its size: cut from the largest frame, which holds more of it.
    SizeRequest enlarged{1280, std::nullopt, FrameRegion{640, 360, 640, 360}};
    Reply detailed = photo(*webcam, enlarged);
    EXPECT_EQ(detailed.frame.width, 1920);
    EXPECT_EQ(detailed.crop, (FrameRegion{960, 540, 960, 540}));
    EXPECT_EQ(detailed.size, (FrameSize{1280, 720}));
    // No region: the whole frame.
    EXPECT_EQ(photo(*webcam, {640, 480}).crop, std::nullopt);
}

TEST_F(StreamingCameraTest, ASweepLocksTheLensAndThePhotoAfterItWaitsForTheLens) {
    plug("video0 webcam formats=yuyv focus-at=135");
    auto webcam = camera();
    Look reference = settled(*webcam, milliseconds(1500), {640, 480});
    SweepResult sweep = webcam->focus_sweep();
    EXPECT_LE(std::abs(sweep.focus - 135), 5) << "locked at " << sweep.focus;
    EXPECT_LE(sweep.frames, max_sweep_frames);
    EXPECT_EQ(sweep.focus % 5, 0) << "positions follow the lens's own step";
    auto events = devices->events();
    auto autofocus_off = std::find(events.begin(), events.end(), "0 set autofocus=0");
    auto first_move = std::find_if(events.begin(), events.end(),
                                   [](const std::string& e) { return e.rfind("0 set focus=", 0) == 0; });
    EXPECT_LT(autofocus_off, first_move);
    EXPECT_GT(look_of(photo(*webcam, {640, 480})).sharpness, reference.sharpness * 0.9);
}

TEST_F(StreamingCameraTest, ControlsAnswerWhileASweepRuns) {
    plug("video0 webcam formats=yuyv fps=10 focus-at=120");
    auto webcam = camera();
    ASSERT_FALSE(webcam->controls().empty());
    std::thread sweeping([&] { webcam->focus_sweep(); });
    std::this_thread::sleep_for(milliseconds(300));
    auto asked = std::chrono::steady_clock::now();
    auto controls = webcam->controls();
    auto took = std::chrono::steady_clock::now() - asked;
    sweeping.join();
    EXPECT_LT(took, milliseconds(500 * sanitizer_slowdown));
    EXPECT_TRUE(
        std::any_of(controls.begin(), controls.end(), [](const CameraControl& c) { return c.name == "focus"; }));
}

TEST_F(StreamingCameraTest, ARefusedControlSaysWhichAutomaticModeAndKeepsTheStream) {
    plug("video0 webcam formats=yuyv focus-at=0");
    auto webcam = camera();
    photo(*webcam, {640, 480});
    try {
        webcam->set_control("gain", 10);
        ADD_FAILURE() << "gain while automatic exposure runs";
    } catch (const Fault& fault) {
        EXPECT_EQ(fault.kind, FaultKind::bad_argument);
        EXPECT_EQ(fault.message,
                  "camera 0 (Fake HD Webcam) refuses gain while its automatic exposure is on; set auto_exposure 0 "
                  "first");
    }
    photo(*webcam, {640, 480});
    EXPECT_EQ(count("0 start YUYV 640x480 30"), 1u);
    EXPECT_EQ(count("0 stop"), 0u);
    webcam->set_control("auto_exposure", 0);
    EXPECT_EQ(webcam->set_control("gain", 10).value, 10);
}

TEST_F(StreamingCameraTest, FaultsAreRefusedInTheUsersWordsWithinABound) {
    // The fake exposes frames by the clock, read or not, as a camera does: a
    // slow build reads fewer of them before the stall.
    const int stall_after = sanitizer_slowdown == 1 ? 45 : 150;
    plug(
        "video0 webcam busy\n"
        "video2 webcam formats=yuyv unplug-after=5\n"
        "video4 webcam formats=yuyv focus-at=0 stall-after=" +
        std::to_string(stall_after) +
        "\n"
        "video6 h264\n");
    struct Case {
        const char* id;
        FaultKind kind;
        std::string message;
    };
    const Case cases[] = {
        {"0", FaultKind::busy,
         "camera 0 (Fake HD Webcam) is busy: another program is using it; close that program and try again"},
        {"2", FaultKind::gone, "camera 2 (Fake HD Webcam) is gone: it was unplugged"},
        {"6", FaultKind::bad_source,
         "camera 6 (Fake H.264 Camera) offers no picture format vistrel-app can read (it offers H264; MJPEG, YUYV "
         "and NV12 can be read)"},
    };
    for (const auto& c : cases) {
        try {
            camera(c.id)->capture_jpeg({});
            ADD_FAILURE() << c.message;
        } catch (const Fault& fault) {
            EXPECT_EQ(fault.kind, c.kind) << c.message;
            EXPECT_EQ(fault.message, c.message);
        }
    }
    // A stream that stops sending is given up within its bound, and the
    // next photo starts it afresh. It stalls after more frames than a
    // warm-up may take, so that the fresh start gives a photo; the stall may
    // come while the first photo still settles.
    auto stalling = camera("4");
    std::optional<Fault> stopped;
    for (auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
         !stopped && std::chrono::steady_clock::now() < until;) {
        try {
            photo(*stalling, {640, 480});
        } catch (const Fault& fault) {
            stopped = fault;
        }
    }
    ASSERT_TRUE(stopped);
    EXPECT_EQ(stopped->kind, FaultKind::timed_out);
    EXPECT_EQ(stopped->message.rfind("camera 4 (Fake HD Webcam) stopped sending frames (none usable for ", 0), 0u);
    EXPECT_NO_THROW(photo(*stalling, {640, 480}));
}

TEST_F(StreamingCameraTest, DamagedAndEmptyFramesAreNeverHandedOut) {
    plug("video0 webcam formats=yuyv focus-at=0 damaged-every=2 empty-every=3");
    auto webcam = camera();
    for (int i = 0; i < 6; ++i) {
        Reply reply = photo(*webcam, {640, 480});
        EXPECT_TRUE(luma_line(reply.frame)) << "a frame without its bytes";
    }
}

TEST_F(StreamingCameraTest, TheListIsKeptUntilTheDevicesChange) {
    plug("video0 ir\nvideo2 webcam formats=yuyv\n");
    auto listed = list_cameras(registry);
    ASSERT_EQ(listed.size(), 2u);
    for (int i = 0; i < 5; ++i) {
        list_cameras(registry);
        // Neither the description nor the default size asks the camera.
        for (const auto& camera : listed) {
            camera->description();
            camera->default_size();
        }
    }
    EXPECT_EQ(devices->listings(), 1);
    EXPECT_TRUE(devices->events().empty()) << "no device was opened";
    // The infrared camera is listed, never the default.
    EXPECT_FALSE(listed[0]->description().colour);
    EXPECT_EQ(default_camera(registry)->description().id, "2");
    devices->plug("video0 ir\nvideo2 webcam formats=yuyv\nvideo4 fixed\n");
    EXPECT_EQ(list_cameras(registry).size(), 3u);
    EXPECT_EQ(devices->listings(), 2);
    EXPECT_EQ(find_camera(registry, "2"), listed[1]) << "a camera still there keeps its object";
}
}  // namespace
