// snap and screenshot: JPEGs of the simulated camera and of the X display.
#include "app_fixture.h"

#include <X11/Xlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

namespace {
using CaptureTest = AppTest;

TEST_F(CaptureTest, SnapSavesACameraFrameAtTheDefaultSize) {
    RunResult r = vistrel({"snap"});
    ASSERT_EQ(r.exit_status, 0) << r.err;
    std::string bytes = read_file(in_work("vistrel.jpg"));
    EXPECT_EQ(r.out, "vistrel.jpg  " + std::to_string(bytes.size()) + " bytes\n");
    auto picture = decode_jpeg_file(in_work("vistrel.jpg"));
    ASSERT_TRUE(picture) << "not a JPEG";
    EXPECT_EQ(picture->width, 1280);
    EXPECT_EQ(picture->height, 720);
}

TEST_F(CaptureTest, SnapHonoursTheAskedSize) {
    struct Case {
        const char* size;
        int width, height;
    };
    for (const Case& c : {Case{"640x480", 640, 480}, Case{"16x16", 16, 16}, Case{"1920X1080", 1920, 1080},
                          Case{"200x4096", 200, 4096}}) {
        RunResult r = vistrel({"snap", "--size", c.size, "--out", "sized.jpg"});
        ASSERT_EQ(r.exit_status, 0) << c.size << ": " << r.err;
        auto picture = decode_jpeg_file(in_work("sized.jpg"));
        ASSERT_TRUE(picture) << c.size;
        EXPECT_EQ(picture->width, c.width) << c.size;
        EXPECT_EQ(picture->height, c.height) << c.size;
    }
}

TEST_F(CaptureTest, SuccessiveFramesDifferBecauseOfTheClock) {
    ASSERT_EQ(vistrel({"snap", "--out", "a.jpg", "--size", "320x180"}).exit_status, 0);
    ASSERT_EQ(vistrel({"snap", "--out", "b.jpg", "--size", "320x180"}).exit_status, 0);
    EXPECT_NE(read_file(in_work("a.jpg")), read_file(in_work("b.jpg")));
}

TEST_F(CaptureTest, ScreenshotCapturesWhatIsOnTheDisplay) {
    // Paint the top-left quarter of the root window red; the rest stays black.
    // The connection stays open until the end, so that the server does not
    // reset the screen when its last client leaves.
    Display* display = XOpenDisplay(xvfb.name.c_str());
    ASSERT_NE(display, nullptr);
    int screen = DefaultScreen(display);
    GC gc = DefaultGC(display, screen);
    XSetForeground(display, gc, 0xFF0000);
    XFillRectangle(display, RootWindow(display, screen), gc, 0, 0, xvfb_width / 2, xvfb_height / 2);
    XSync(display, False);

    RunResult r = vistrel({"screenshot"});
    ASSERT_EQ(r.exit_status, 0) << r.err;
    EXPECT_EQ(r.out, "screen.jpg  " + std::to_string(read_file(in_work("screen.jpg")).size()) + " bytes\n");
    auto shot = decode_jpeg_file(in_work("screen.jpg"));
    ASSERT_TRUE(shot);
    ASSERT_EQ(shot->width, xvfb_width);
    ASSERT_EQ(shot->height, xvfb_height);
    auto pixel = [&](const Image& image, double fx, double fy) {
        int x = static_cast<int>(fx * image.width), y = static_cast<int>(fy * image.height);
        return &image.rgb[(static_cast<std::size_t>(y) * image.width + x) * 3];
    };
    auto expect_red_quarter = [&](const Image& image) {
        const std::uint8_t* red = pixel(image, 0.25, 0.25);
        EXPECT_GT(red[0], 200);
        EXPECT_LT(red[1] + red[2], 60);
        const std::uint8_t* black = pixel(image, 0.75, 0.75);
        EXPECT_LT(black[0] + black[1] + black[2], 40);
    };
    expect_red_quarter(*shot);

    // Scaled to the asked size, through both commands.
    struct Case {
        std::vector<std::string> args;
        int width, height;
    };
    const Case cases[] = {
        {{"screenshot", "--size", "640x360", "--out", "small.jpg"}, 640, 360},
        {{"snap", "--device", "screen", "--size", "320x200", "--out", "small.jpg"}, 320, 200},
    };
    for (const auto& c : cases) {
        RunResult sized = vistrel(c.args);
        ASSERT_EQ(sized.exit_status, 0) << sized.err;
        auto small = decode_jpeg_file(in_work("small.jpg"));
        ASSERT_TRUE(small);
        EXPECT_EQ(small->width, c.width);
        EXPECT_EQ(small->height, c.height);
        expect_red_quarter(*small);
    }
    XCloseDisplay(display);
}

TEST_F(CaptureTest, BadSizesAndUnknownDevicesAreRefused) {
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const Case cases[] = {
        {{"snap", "--size", "0x0"}, "width must be a whole number from 16 to 4096 (got \"0\")"},
        {{"snap", "--size", "100000x100000"}, "width must be a whole number from 16 to 4096 (got \"100000\")"},
        {{"snap", "--size", "640x4097"}, "height must be a whole number from 16 to 4096 (got \"4097\")"},
        {{"snap", "--size", "abcx100"}, "width must be a whole number from 16 to 4096 (got \"abc\")"},
        {{"snap", "--size", "640x"}, "height must be a whole number from 16 to 4096 (got \"\")"},
        {{"snap", "--size", "-640x480"}, "width must be a whole number from 16 to 4096 (got \"-640\")"},
        {{"screenshot", "--size", "1x1"}, "width must be a whole number from 16 to 8192 (got \"1\")"},
        {{"snap", "--device", "9"}, "no device \"9\"; the devices are \"sim\", \"screen\""},
        {{"snap", "--device", "net:nothing"},
         "no network camera named \"nothing\" is registered; see vistrel sources, or add one with vistrel add-source"},
    };
    for (const auto& c : cases) {
        RunResult r = vistrel(c.args);
        expect_refused(r, c.message);
    }
    EXPECT_FALSE(std::filesystem::exists(in_work("vistrel.jpg")));
    EXPECT_FALSE(std::filesystem::exists(in_work("screen.jpg")));
}

TEST_F(CaptureTest, ADisplayThatGoesAwayIsRefusedWithoutHarmToTheApp) {
    std::string name = xvfb.name;
    // The app looks at the display once after it starts listening; the
    // display goes away after that, while the app serves.
    auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (read_file(app.log_path).find("vistrel-app: screen:") == std::string::npos &&
           std::chrono::steady_clock::now() < give_up) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    stop_xvfb(xvfb);
    // Held in the X server's way, so that the Xvfb of a test running beside
    // this one cannot take the number that just became free.
    std::string lock = "/tmp/.X" + name.substr(1) + "-lock";
    char pid[16];
    std::snprintf(pid, sizeof pid, "%10d\n", static_cast<int>(getpid()));
    write_file(lock, pid);
    struct Unlock {
        std::string path;
        ~Unlock() { std::remove(path.c_str()); }
    } unlock{lock};
    expect_refused(vistrel({"screenshot"}), "no screen: cannot open the X display " + name);
    RunResult devices = vistrel({"devices"});
    EXPECT_EQ(devices.exit_status, 0);
    EXPECT_EQ(devices.out.find("screen"), std::string::npos);
    EXPECT_EQ(vistrel({"snap", "--size", "64x64"}).exit_status, 0);
}

// Without any display the screen is not offered and clearly refused.
class NoDisplayTest : public AppTest {
protected:
    bool wants_display() const override { return false; }
};

TEST_F(NoDisplayTest, ScreenIsNotListedAndItsCommandsAreRefused) {
    RunResult devices = vistrel({"devices"});
    ASSERT_EQ(devices.exit_status, 0);
    EXPECT_EQ(devices.out, "  sim  Simulated camera (test scene)      focusable\n");

    expect_refused(vistrel({"screenshot"}),
                   "no screen: neither WAYLAND_DISPLAY nor DISPLAY is set; run vistrel-app inside the desktop session");
    expect_refused(vistrel({"record", "--secs", "1"}),
                   "no screen to record: neither WAYLAND_DISPLAY nor DISPLAY is set; run vistrel-app inside the "
                   "desktop session");
    // The camera still works.
    EXPECT_EQ(vistrel({"snap", "--size", "64x64"}).exit_status, 0);
}
}  // namespace
