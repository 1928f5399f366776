// Without a camera and without --simulated-camera the app never makes up a
// picture: the camera commands are refused, the other eyes keep working.
#include "app_fixture.h"
#include "fake_phone.h"

#include <nlohmann/json.hpp>

#include <filesystem>

namespace {
class NoCameraTest : public AppTest {
protected:
    bool wants_simulated_camera() const override { return false; }
};

const std::string no_camera =
    "no camera found: plug in a webcam (any UVC webcam works), or start vistrel-app with --simulated-camera for a "
    "test picture";

TEST_F(NoCameraTest, CameraCommandsOnTheDefaultDeviceAreRefused) {
    const std::vector<std::vector<std::string>> commands = {
        {"snap"}, {"snap", "--size", "64x64"}, {"look"}, {"focus"}, {"controls"}, {"set", "focus", "5"},
    };
    for (const auto& args : commands) expect_refused(vistrel(args), no_camera);
    EXPECT_FALSE(std::filesystem::exists(in_work("vistrel.jpg")));

    expect_refused(vistrel({"snap", "--device", "sim"}), "no device \"sim\"; the devices are \"screen\"");
    expect_refused(vistrel({"focus", "--device", "screen"}), "screen has no lens to focus; no camera here can focus");

    auto health = nlohmann::json::parse(vistrel({"status", "--json"}).out);
    EXPECT_EQ(health.at("settings").at("device"), nullptr);
    EXPECT_EQ(health.at("camera"), nullptr);
}

TEST_F(NoCameraTest, StatusNamesTheSizeACameraWouldBeAskedFor) {
    RunResult status = vistrel({"status"});
    EXPECT_EQ(status.exit_status, 0);
    EXPECT_EQ(status.err, "");
    EXPECT_EQ(status.out, "vistrel \"" VISTREL_APP_VERSION "\" on port " + std::to_string(app.port) +
                              "\n  camera  (best available)\n  size    1280x720\n");
}

// A webcam the user may not open: the refusal and the listing say why.
class DeniedCameraTest : public NoCameraTest {
protected:
    std::string webcams() const override { return "video0 webcam denied\n"; }
};

TEST_F(DeniedCameraTest, TheRefusalNamesTheNodeThatCannotBeOpened) {
    const std::string why = "cannot open /dev/video0: Permission denied (is this user in the video group?)";
    expect_refused(vistrel({"snap"}), no_camera + " (" + why + ")");
    auto reply = nlohmann::json::parse(vistrel({"devices", "--json"}).out);
    EXPECT_EQ(reply.at("warning"), why);
}

TEST_F(NoCameraTest, TheScreenAndNetworkCamerasKeepWorking) {
    FakePhone phone;
    ASSERT_EQ(vistrel({"add-source", "phone", phone.url("/shot.jpg")}).exit_status, 0);
    RunResult devices = vistrel({"devices", "--json"});
    ASSERT_EQ(devices.exit_status, 0);
    std::vector<std::string> ids;
    auto reply = nlohmann::json::parse(devices.out);
    for (const auto& device : reply.at("devices")) ids.push_back(device.at("id"));
    EXPECT_EQ(ids, (std::vector<std::string>{"screen", "net:phone"})) << devices.out;

    RunResult shot = vistrel({"screenshot", "--size", "320x180"});
    ASSERT_EQ(shot.exit_status, 0) << shot.err;
    auto picture = decode_jpeg_file(in_work("screen.jpg"));
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->width, 320);
    EXPECT_EQ(vistrel({"snap", "--device", "screen", "--out", "s.jpg"}).exit_status, 0);
    RunResult net = vistrel({"snap", "--device", "net:phone", "--out", "phone.jpg"});
    ASSERT_EQ(net.exit_status, 0) << net.err;
    EXPECT_EQ(read_file(in_work("phone.jpg")), phone.jpeg);
    EXPECT_EQ(vistrel({"controls", "--device", "screen"}).out, "");
}
}  // namespace
