// The screen seen closer: each monitor on its own, one window, a region at
// full resolution, on an Xvfb display split into two RandR monitors; and
// /health while the X server does not answer.
#include "app_fixture.h"
#include "fake_phone.h"
#include "imaging/jpeg.h"
#include "raw_http.h"
#include "test_desktop.h"

#include <signal.h>

#include <chrono>
#include <memory>
#include <thread>

#include <nlohmann/json.hpp>

namespace {
using nlohmann::json;

constexpr std::uint32_t red = 0xff0000, blue = 0x0000ff, white = 0xffffff, green = 0x00ff00, yellow = 0xffff00;

// A desktop of two monitors of different sizes: DP-1 (1280x1024) on the
// left painted red, HDMI-2 (1920x1200) on the right painted blue, with a
// white block on HDMI-2 at (200, 580) of its own pixels, 40x30.
class TwoMonitorTest : public AppTest {
protected:
    std::pair<int, int> display_size() const override { return {3200, 1200}; }

    void prepare_display() override {
        set_xvfb_monitors(xvfb, {"DP-1 1280x1024+0+0", "HDMI-2 1920x1200+1280+0"});
        desktop = std::make_unique<TestDesktop>(xvfb.name);
        desktop->paint(0, 0, 1280, 1200, red);
        desktop->paint(1280, 0, 1920, 1200, blue);
        desktop->paint(1280 + 200, 580, 40, 30, white);
    }

    // The test's client goes before its display does.
    void TearDown() override {
        desktop.reset();
        AppTest::TearDown();
    }

    // GET path.
    RawReply get(const std::string& path) {
        return raw_exchange(app.port, client_style_request("GET", path, app.port));
    }

    std::unique_ptr<TestDesktop> desktop;
};

std::string header(const RawReply& reply, const std::string& name) {
    std::size_t at = reply.head.find("\r\n" + name + ": ");
    if (at == std::string::npos) return "(none)";
    at += name.size() + 4;
    return reply.head.substr(at, reply.head.find("\r\n", at) - at);
}

std::string error_of(const RawReply& reply) {
    auto body = json::parse(reply.body, nullptr, false);
    return body.is_object() && body.contains("error") ? body["error"].get<std::string>() : "(no error)";
}

const std::uint8_t* pixel(const Image& image, int x, int y) {
    return &image.rgb[(static_cast<std::size_t>(y) * image.width + x) * 3];
}

// Every corner and the middle of `image` (a few pixels in, past JPEG's
// fringes) are `rgb`.
::testing::AssertionResult all_of_colour(const Image& image, std::uint32_t rgb) {
    int want[3] = {static_cast<int>(rgb >> 16), static_cast<int>((rgb >> 8) & 0xff), static_cast<int>(rgb & 0xff)};
    const std::pair<int, int> spots[] = {{3, 3},
                                         {image.width - 4, 3},
                                         {3, image.height - 4},
                                         {image.width - 4, image.height - 4},
                                         {image.width / 2, image.height / 2}};
    for (auto [x, y] : spots) {
        const std::uint8_t* p = pixel(image, x, y);
        for (int c = 0; c < 3; ++c) {
            if (std::abs(p[c] - want[c]) > 40) {
                return ::testing::AssertionFailure()
                       << "pixel " << x << "," << y << " is " << int(p[0]) << "," << int(p[1]) << "," << int(p[2]);
            }
        }
    }
    return ::testing::AssertionSuccess();
}

int luma(const std::uint8_t* p) {
    return (p[0] * 299 + p[1] * 587 + p[2] * 114) / 1000;
}

TEST_F(TwoMonitorTest, DevicesListEachMonitorLeftToRightWithItsSize) {
    RawReply reply = get("/api/devices");
    ASSERT_EQ(reply.status, 200);
    json devices = json::parse(reply.body)["devices"];
    struct Expected {
        const char* id;
        const char* name;
        int width, height;
    };
    std::string whole = "Screen " + xvfb.name + " (3200x1200)";
    const Expected expected[] = {{"screen", whole.c_str(), 3200, 1200},
                                 {"screen:1", "Screen 1: DP-1 1280x1024", 1280, 1024},
                                 {"screen:2", "Screen 2: HDMI-2 1920x1200", 1920, 1200}};
    for (const Expected& e : expected) {
        auto found = std::find_if(devices.begin(), devices.end(), [&](const json& d) { return d["id"] == e.id; });
        ASSERT_NE(found, devices.end()) << e.id << " in " << devices.dump();
        EXPECT_EQ((*found)["name"], e.name);
        EXPECT_EQ((*found)["kind"], "screen");
        EXPECT_EQ((*found)["width"], e.width) << e.id;
        EXPECT_EQ((*found)["height"], e.height) << e.id;
    }
    // The simulated camera's size is the one a request without a size gets.
    auto sim = std::find_if(devices.begin(), devices.end(), [](const json& d) { return d["id"] == "sim"; });
    ASSERT_NE(sim, devices.end());
    EXPECT_EQ((*sim)["width"], 1280);
    EXPECT_EQ((*sim)["height"], 720);

    RunResult listed = vistrel({"devices"});
    EXPECT_NE(listed.out.find("screen:2  Screen 2: HDMI-2 1920x1200"), std::string::npos) << listed.out;
}

TEST_F(TwoMonitorTest, EachMonitorComesAloneAtItsSizeThroughTheUnchangedClient) {
    struct Case {
        const char* device;
        int width, height;
        std::uint32_t rgb;
    };
    for (const Case& c : {Case{"screen:1", 1280, 1024, red}, Case{"screen:2", 1920, 1200, blue}}) {
        RunResult r = vistrel({"snap", "--device", c.device, "--out", "monitor.jpg"});
        ASSERT_EQ(r.exit_status, 0) << c.device << ": " << r.err;
        auto shot = decode_jpeg_file(in_work("monitor.jpg"));
        ASSERT_TRUE(shot) << c.device;
        EXPECT_EQ(shot->width, c.width) << c.device;
        EXPECT_EQ(shot->height, c.height) << c.device;
        // The corners rule out a picture that reaches into the other monitor
        // (the white block aside, which lies away from them).
        EXPECT_TRUE(all_of_colour(*shot, c.rgb)) << c.device;
    }
    RawReply reply = get("/api/frame.jpg?device=screen:2&width=480");
    ASSERT_EQ(reply.status, 200);
    EXPECT_EQ(header(reply, "X-Vistrel-Source"), "1920x1200");
    EXPECT_EQ(header(reply, "X-Vistrel-Region"), "(none)");
    EXPECT_EQ(jpeg_size(reply.body), (FrameSize{480, 300}));

    // The whole screen is still one device, and may be asked for beyond 4096.
    RawReply whole = get("/api/frame.jpg?device=screen&width=6400");
    ASSERT_EQ(whole.status, 200) << error_of(whole);
    EXPECT_EQ(jpeg_size(whole.body), (FrameSize{6400, 2400}));
    EXPECT_EQ(header(whole, "X-Vistrel-Source"), "3200x1200");

    expect_refused(vistrel({"snap", "--device", "screen:3"}),
                   "no device \"screen:3\"; the devices are \"sim\", \"screen\", \"screen:1\", \"screen:2\"");
}

TEST_F(TwoMonitorTest, ARegionComesBackAtFullResolutionExactlyInPlace) {
    // 80x60 around the white block, in HDMI-2's own pixels: the block starts
    // 20 pixels in from the left and 10 down.
    RawReply reply = get("/api/frame.jpg?device=screen:2&x=180&y=570&w=80&h=60");
    ASSERT_EQ(reply.status, 200) << error_of(reply);
    EXPECT_EQ(header(reply, "X-Vistrel-Source"), "1920x1200");
    EXPECT_EQ(header(reply, "X-Vistrel-Region"), "180,570,80,60");
    auto picture = decode_jpeg(reply.body);
    ASSERT_TRUE(picture);
    ASSERT_EQ(picture->width, 80);
    ASSERT_EQ(picture->height, 60);
    // Where the brightness crosses half way is where the block's edges are.
    auto first_bright = [&](bool across, int line) {
        int limit = across ? picture->width : picture->height;
        for (int i = 0; i < limit; ++i) {
            const std::uint8_t* p = across ? pixel(*picture, i, line) : pixel(*picture, line, i);
            if (luma(p) > 140) return i;
        }
        return -1;
    };
    EXPECT_EQ(first_bright(true, 25), 20);
    EXPECT_EQ(first_bright(false, 40), 10);
    auto last_bright = [&](bool across, int line) {
        int limit = across ? picture->width : picture->height;
        for (int i = limit - 1; i >= 0; --i) {
            const std::uint8_t* p = across ? pixel(*picture, i, line) : pixel(*picture, line, i);
            if (luma(p) > 140) return i;
        }
        return -1;
    };
    EXPECT_EQ(last_bright(true, 25), 59);
    EXPECT_EQ(last_bright(false, 40), 39);

    // Scaled after cropping: the region's aspect ratio, at the asked width.
    RawReply scaled = get("/api/frame.jpg?device=screen:2&x=180&y=570&w=80&h=60&width=800");
    ASSERT_EQ(scaled.status, 200) << error_of(scaled);
    EXPECT_EQ(jpeg_size(scaled.body), (FrameSize{800, 600}));

    // Partly outside: clipped, and the header says to what.
    RawReply clipped = get("/api/frame.jpg?device=screen:2&x=1900&y=1180&w=100&h=100");
    ASSERT_EQ(clipped.status, 200) << error_of(clipped);
    EXPECT_EQ(header(clipped, "X-Vistrel-Region"), "1900,1180,20,20");
    EXPECT_EQ(jpeg_size(clipped.body), (FrameSize{20, 20}));
    // The same region on the whole screen is somewhere else.
    RawReply on_whole = get("/api/frame.jpg?device=screen&x=1460&y=570&w=80&h=60");
    ASSERT_EQ(on_whole.status, 200);
    auto same = decode_jpeg(on_whole.body);
    ASSERT_TRUE(same);
    EXPECT_GT(luma(pixel(*same, 40, 25)), 200);

    struct Refused {
        std::string query;
        std::string message;
    };
    const Refused refused[] = {
        {"device=screen:2&x=1920&y=0&w=10&h=10",
         "the region x=1920 y=0 w=10 h=10 lies outside screen:2, which is 1920x1200 pixels (x and y count from 0 at "
         "its top left)"},
        {"device=screen:1&x=-50&y=0&w=50&h=10",
         "the region x=-50 y=0 w=50 h=10 lies outside screen:1, which is 1280x1024 pixels (x and y count from 0 at "
         "its top left)"},
        {"device=screen&x=0&y=0&w=0&h=10",
         "the region x=0 y=0 w=0 h=10 is empty: w and h must be at least 1 (screen, which is 3200x1200 pixels)"},
        {"device=sim&x=1280&y=0&w=10&h=10",
         "the region x=1280 y=0 w=10 h=10 lies outside sim, which is 1280x720 pixels (x and y count from 0 at its "
         "top left)"},
        {"device=screen&x=0&y=0&w=10", "a region needs all four of x, y, w and h (or none of them)"},
        {"device=screen&x=0&y=0&w=10&h=1e3", "h must be a whole number of pixels (got \"1e3\")"},
        {"device=screen&width=8193", "width must be a whole number from 16 to 8192 (got \"8193\")"},
        {"device=sim&width=4097", "width must be a whole number from 16 to 4096 (got \"4097\")"},
    };
    for (const Refused& r : refused) {
        RawReply got = get("/api/frame.jpg?" + r.query);
        EXPECT_EQ(got.status, 400) << r.query;
        EXPECT_EQ(error_of(got), r.message) << r.query;
    }
}

TEST_F(TwoMonitorTest, WindowsAreListedAndEachComesCroppedToItself) {
    Window green_window = desktop->open({"Green editor", "editor", 100, 100, 300, 200, green, true});
    Window yellow_window = desktop->open({"Yellow notes \u00e9", "notes", 2000, 300, 400, 300, yellow, true});
    desktop->open({"Hidden", "hidden", 500, 500, 100, 100, white, false});  // never shown
    desktop->open({"", "untitled", 600, 600, 100, 100, white, true});       // no title, no window manager
    desktop->focus(green_window);

    // Without a window manager: the mapped top-level windows with a title.
    RawReply reply = get("/api/windows");
    ASSERT_EQ(reply.status, 200) << reply.body;
    json windows = json::parse(reply.body)["windows"];
    ASSERT_EQ(windows.size(), 2u) << windows.dump();
    json expected_green = {{"id", window_id(green_window)},
                           {"title", "Green editor"},
                           {"program", "editor"},
                           {"x", 100},
                           {"y", 100},
                           {"width", 300},
                           {"height", 200},
                           {"monitor", 1},
                           {"focused", true}};
    json expected_yellow = {{"id", window_id(yellow_window)},
                            {"title", "Yellow notes \u00e9"},
                            {"program", "notes"},
                            {"x", 2000},
                            {"y", 300},
                            {"width", 400},
                            {"height", 300},
                            {"monitor", 2},
                            {"focused", false}};
    EXPECT_EQ(windows[0], expected_green);
    EXPECT_EQ(windows[1], expected_yellow);

    RunResult r = vistrel({"snap", "--device", "window:" + window_id(yellow_window), "--out", "window.jpg"});
    ASSERT_EQ(r.exit_status, 0) << r.err;
    auto shot = decode_jpeg_file(in_work("window.jpg"));
    ASSERT_TRUE(shot);
    EXPECT_EQ(shot->width, 400);
    EXPECT_EQ(shot->height, 300);
    EXPECT_TRUE(all_of_colour(*shot, yellow));

    RawReply part = get("/api/frame.jpg?device=window:" + window_id(green_window) + "&x=250&y=150&w=100&h=100");
    ASSERT_EQ(part.status, 200) << error_of(part);
    EXPECT_EQ(header(part, "X-Vistrel-Source"), "300x200");
    EXPECT_EQ(header(part, "X-Vistrel-Region"), "250,150,50,50");
    auto green_part = decode_jpeg(part.body);
    ASSERT_TRUE(green_part);
    EXPECT_TRUE(all_of_colour(*green_part, green));

    // A window manager's list decides instead: only what it manages, and
    // its active window is the focused one.
    desktop->set_client_list({yellow_window}, yellow_window);
    windows = json::parse(get("/api/windows").body)["windows"];
    ASSERT_EQ(windows.size(), 1u) << windows.dump();
    EXPECT_EQ(windows[0]["id"], window_id(yellow_window));
    EXPECT_EQ(windows[0]["focused"], true);

    RawReply unknown = get("/api/frame.jpg?device=window:0x1");
    EXPECT_EQ(unknown.status, 404);
    EXPECT_EQ(error_of(unknown),
              "no window 0x1 is shown on the screen; list the windows (GET /api/windows) for their ids");
    RawReply not_managed = get("/api/frame.jpg?device=window:" + window_id(green_window));
    EXPECT_EQ(not_managed.status, 404);
}

TEST_F(TwoMonitorTest, AWindowPartlyOffTheScreenComesAsFarAsItIsShown) {
    Window window = desktop->open({"Off the edge", "edge", 3100, 1100, 300, 200, green, true});
    RawReply reply = get("/api/frame.jpg?device=window:" + window_id(window));
    ASSERT_EQ(reply.status, 200) << error_of(reply);
    EXPECT_EQ(header(reply, "X-Vistrel-Source"), "300x200");
    EXPECT_EQ(header(reply, "X-Vistrel-Region"), "0,0,100,100");
    EXPECT_EQ(jpeg_size(reply.body), (FrameSize{100, 100}));
}

// A network camera's picture is cut the same way, after it is fetched.
using NetworkRegionTest = TwoMonitorTest;

TEST_F(NetworkRegionTest, ANetworkCamerasRegionIsCutFromItsPicture) {
    FakePhone phone;
    Image halves = blank_image(320, 240);
    for (int i = 0; i < 320 * 240; ++i) halves.rgb[i * 3 + (i % 320 < 160 ? 0 : 2)] = 255;
    std::string sent = encode_jpeg(halves);
    phone.script("/halves.jpg", "HTTP/1.1 200 OK\r\nContent-Type: image/jpeg\r\nContent-Length: " +
                                    std::to_string(sent.size()) + "\r\nConnection: close\r\n\r\n" + sent);
    ASSERT_EQ(vistrel({"add-source", "phone", phone.url("/halves.jpg")}).exit_status, 0);

    RawReply whole = get("/api/frame.jpg?device=net:phone");
    ASSERT_EQ(whole.status, 200) << error_of(whole);
    EXPECT_EQ(whole.body, sent);  // untouched
    EXPECT_EQ(header(whole, "X-Vistrel-Source"), "320x240");
    EXPECT_EQ(header(whole, "X-Vistrel-Region"), "(none)");

    RawReply part = get("/api/frame.jpg?device=net:phone&x=200&y=-10&w=100&h=60");
    ASSERT_EQ(part.status, 200) << error_of(part);
    EXPECT_EQ(header(part, "X-Vistrel-Source"), "320x240");
    EXPECT_EQ(header(part, "X-Vistrel-Region"), "200,0,100,50");
    auto picture = decode_jpeg(part.body);
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->width, 100);
    EXPECT_EQ(picture->height, 50);
    EXPECT_TRUE(all_of_colour(*picture, blue));

    RawReply outside = get("/api/frame.jpg?device=net:phone&x=320&y=0&w=10&h=10");
    EXPECT_EQ(outside.status, 400);
    EXPECT_EQ(error_of(outside),
              "the region x=320 y=0 w=10 h=10 lies outside net:phone, which is 320x240 pixels (x and y count from 0 "
              "at its top left)");
}

// /health while the X server is stopped: it answers at once, says the
// display does not answer, and sees it again once the server goes on.
using StoppedDisplayTest = AppTest;

TEST_F(StoppedDisplayTest, HealthAnswersAndSaysTheDisplayDoesNotAnswer) {
    RawReply before = raw_exchange(app.port, client_style_request("GET", "/api/health", app.port));
    ASSERT_EQ(before.status, 200);
    ASSERT_EQ(json::parse(before.body)["screen"], xvfb.name);

    ASSERT_EQ(kill(xvfb.pid, SIGSTOP), 0);
    struct GoOn {
        pid_t pid;
        ~GoOn() { kill(pid, SIGCONT); }
    } go_on{xvfb.pid};
    // Pictures still to be made wait for the display on their own threads.
    std::thread picture(
        [&] { raw_exchange(app.port, client_style_request("GET", "/api/frame.jpg?device=screen", app.port)); });

    json health;
    auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    do {
        RawReply reply = raw_exchange(app.port, client_style_request("GET", "/api/health", app.port));
        ASSERT_EQ(reply.status, 200);
        // It never waits for the display (which would be forever here).
        EXPECT_LT(reply.took.count(), 2000);
        health = json::parse(reply.body);
        if (health["screen"].is_null()) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    } while (std::chrono::steady_clock::now() < give_up);
    EXPECT_TRUE(health["screen"].is_null()) << health.dump();
    std::string problem = health.value("screen_problem", "");
    EXPECT_EQ(problem.rfind("the X display " + xvfb.name + " does not answer (nothing for ", 0), 0u) << problem;
    RawReply devices = raw_exchange(app.port, client_style_request("GET", "/api/devices", app.port));
    EXPECT_EQ(devices.status, 200);
    EXPECT_LT(devices.took.count(), 2000);

    kill(xvfb.pid, SIGCONT);
    picture.join();
    give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    do {
        health = json::parse(raw_exchange(app.port, client_style_request("GET", "/api/health", app.port)).body);
        if (!health["screen"].is_null()) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    } while (std::chrono::steady_clock::now() < give_up);
    EXPECT_EQ(health["screen"], xvfb.name) << health.dump();
    EXPECT_EQ(vistrel({"screenshot"}).exit_status, 0);
}
}  // namespace
