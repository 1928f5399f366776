// What a Video4Linux2 camera offers, as the fake devices (which answer as
// uvcvideo does) report it.
#include "cameras/v4l2/capture_modes.h"
#include "fake_video_devices.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

#include <unistd.h>

namespace {
TEST(CaptureModes, FourCharacterCodes) {
    EXPECT_EQ(fourcc_text(fourcc_of(PixelFormat::mjpeg)), "MJPG");
    EXPECT_EQ(fourcc_text(fourcc_of(PixelFormat::nv12)), "NV12");
    EXPECT_EQ(fourcc_text(fourcc_of(PixelFormat::grey)), "GREY");
    EXPECT_EQ(fourcc_text(0x34363248), "H264");
    EXPECT_EQ(readable_format(fourcc_of(PixelFormat::yuyv)), PixelFormat::yuyv);
    EXPECT_EQ(readable_format(0x34363248), std::nullopt);
}

TEST(CaptureModes, EachSizeComesWithTheFastestRateTheCameraOffersForIt) {
    auto folder = std::filesystem::temp_directory_path() / ("vistrel-capture-modes-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    std::ofstream(folder / "set") << "video0 webcam\nvideo2 ir\nvideo4 h264\n";
    FakeVideoDevices devices((folder / "set").string());

    DeviceFile webcam(devices, "/dev/video0");
    CaptureModes modes = read_capture_modes(webcam);
    auto rate = [&](PixelFormat format, FrameSize size) {
        auto found = std::find_if(modes.usable.begin(), modes.usable.end(),
                                  [&](const CaptureMode& m) { return m.format == format && m.size == size; });
        return found == modes.usable.end() ? -1.0 : found->fps;
    };
    // Motion-JPEG at 1920x1080 starts at 15 frames a second but offers 30.
    EXPECT_EQ(rate(PixelFormat::mjpeg, {1920, 1080}), 30.0);
    EXPECT_EQ(rate(PixelFormat::yuyv, {1280, 720}), 15.0);
    EXPECT_EQ(rate(PixelFormat::yuyv, {1920, 1080}), 5.0);
    EXPECT_TRUE(modes.colour);

    DeviceFile infrared(devices, "/dev/video2");
    CaptureModes grey = read_capture_modes(infrared);
    ASSERT_EQ(grey.usable.size(), 1u);
    EXPECT_EQ(grey.usable[0].format, PixelFormat::grey);
    EXPECT_FALSE(grey.colour) << "greyscale only: never the default";

    DeviceFile h264(devices, "/dev/video4");
    CaptureModes unreadable = read_capture_modes(h264);
    EXPECT_TRUE(unreadable.usable.empty());
    EXPECT_EQ(unreadable.other_formats, std::vector<std::string>{"H264"});
    EXPECT_TRUE(unreadable.colour);
    std::filesystem::remove_all(folder);
}
}  // namespace
