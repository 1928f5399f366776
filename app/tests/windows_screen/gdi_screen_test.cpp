// The GDI screen backend on a desktop of wine's under an Xvfb of its own
// (on-own-display.sh, 1280x720): windows that this program makes and paints
// in known colours come back pixel for pixel, in the whole screen, the
// monitor, the window and regions of each; the window list shows them as
// the user sees them.
#include "screen/gdi_screen.h"
#include "fault.h"
#include "imaging/jpeg.h"
#include "screen/dpi_awareness.h"
#include "screen/gdi_desktop.h"
#include "screen/screen_target.h"
#include "test_windows.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>

namespace {
struct Rgb {
    int r, g, b;
    bool operator==(const Rgb&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Rgb& c) {
    return out << "(" << c.r << ", " << c.g << ", " << c.b << ")";
}
COLORREF colour_ref(Rgb c) {
    return RGB(c.r, c.g, c.b);
}

// The test window: 200x150 at (100, 100), in four quarters of 100x75.
constexpr int window_x = 100, window_y = 100, window_width = 200, window_height = 150;
constexpr std::array<Rgb, 4> quarters = {Rgb{220, 30, 30}, Rgb{30, 200, 60}, Rgb{40, 60, 220}, Rgb{240, 220, 40}};
// Top left, top right, bottom left, bottom right.
Rgb quarter_at(int x, int y) {
    return quarters[static_cast<std::size_t>((y >= window_height / 2 ? 2 : 0) + (x >= window_width / 2 ? 1 : 0))];
}
const wchar_t* const window_title = L"vistrel test window \u00e9 \u2713";
const char* const window_title_utf8 = "vistrel test window \xc3\xa9 \xe2\x9c\x93";
constexpr Rgb cyan{20, 210, 210};

Rgb pixel(const PixelView& view, int x, int y) {
    const std::uint8_t* p = pixel_row(view, y) + static_cast<std::ptrdiff_t>(x) * 4;
    return {p[view.layout.red], p[view.layout.green], p[view.layout.blue]};
}

// What a capture handed over, copied while it was held.
struct Shot {
    FrameSize source;
    std::optional<FrameRegion> region;
    int width = 0, height = 0;
    std::vector<Rgb> pixels;
    std::string jpeg;
    Rgb at(int x, int y) const { return pixels[static_cast<std::size_t>(y) * width + x]; }
};

Shot capture(ScreenBackend& screen, const std::string& device, std::optional<FrameRegion> region = std::nullopt,
             bool jpeg = false) {
    auto target = parse_screen_device(device);
    EXPECT_TRUE(target) << device;
    Shot shot;
    screen.capture(ScreenRequest{*target, region, device}, [&](const ScreenShot& taken) {
        shot.source = taken.source;
        shot.region = taken.region;
        shot.width = taken.pixels.width;
        shot.height = taken.pixels.height;
        for (int y = 0; y < shot.height; ++y) {
            for (int x = 0; x < shot.width; ++x) shot.pixels.push_back(pixel(taken.pixels, x, y));
        }
        if (jpeg) shot.jpeg = encode_jpeg(taken.pixels);
    });
    return shot;
}

Fault capture_fault(ScreenBackend& screen, const std::string& device,
                    std::optional<FrameRegion> region = std::nullopt) {
    try {
        capture(screen, device, region);
    } catch (const Fault& fault) {
        return fault;
    }
    ADD_FAILURE() << device << " was captured";
    return {};
}

class GdiScreenTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dpi = make_process_dpi_aware();
        // The pointer away from the windows, unless a test moves it.
        SetCursorPos(1200, 700);
        window = new TestWindow({window_title, window_x, window_y, window_width, window_height, WS_POPUP | WS_VISIBLE,
                                 0, [](HDC dc, int width, int height) {
                                     for (int i = 0; i < 4; ++i) {
                                         int left = i % 2 ? width / 2 : 0, top = i / 2 ? height / 2 : 0;
                                         fill(dc, left, top, i % 2 ? width : width / 2, i / 2 ? height : height / 2,
                                              colour_ref(quarters[static_cast<std::size_t>(i)]));
                                     }
                                 }});
        SetForegroundWindow(window->handle());
        screen = make_gdi_screen().release();
    }
    // Wine hands a window painted anew to the X server in its own time (and
    // repaints it only while its messages are dispatched).
    void SetUp() override {
        for (int i = 0; i < 200; ++i) {
            pump_messages(std::chrono::milliseconds(20));
            Shot shot = capture(*screen, "screen", FrameRegion{window_x, window_y, window_width, window_height});
            if (shot.at(10, 10) == quarters[0] && shot.at(199, 149) == quarters[3]) return;
        }
    }
    static void TearDownTestSuite() {
        delete screen;
        delete window;
    }
    static DpiAwareness dpi;
    static TestWindow* window;
    static ScreenBackend* screen;
};
DpiAwareness GdiScreenTest::dpi = DpiAwareness::unaware;
TestWindow* GdiScreenTest::window = nullptr;
ScreenBackend* GdiScreenTest::screen = nullptr;

TEST_F(GdiScreenTest, TheWholeScreenShowsThePaintedWindowPixelForPixel) {
    Shot shot = capture(*screen, "screen", std::nullopt, true);
    EXPECT_EQ(shot.source, (FrameSize{1280, 720}));
    EXPECT_FALSE(shot.region);
    ASSERT_EQ(shot.width, 1280);
    ASSERT_EQ(shot.height, 720);
    for (int y = 0; y < window_height; y += 5) {
        for (int x = 0; x < window_width; x += 5) {
            ASSERT_EQ(shot.at(window_x + x, window_y + y), quarter_at(x, y)) << "window pixel " << x << "," << y;
        }
    }
    // Just outside the window: not its colours.
    for (auto [x, y] : {std::pair{window_x - 1, window_y},
                        {window_x, window_y - 1},
                        {window_x + window_width, window_y + 10},
                        {window_x + 10, window_y + window_height}}) {
        Rgb outside = shot.at(x, y);
        EXPECT_EQ(std::count(quarters.begin(), quarters.end(), outside), 0) << x << "," << y << " " << outside;
    }
    // The JPEG straight from the kept bitmap has the same picture.
    auto decoded = decode_jpeg(shot.jpeg);
    ASSERT_TRUE(decoded);
    ASSERT_EQ(decoded->width, 1280);
    for (int i = 0; i < 4; ++i) {
        int x = window_x + (i % 2 ? 150 : 50), y = window_y + (i / 2 ? 112 : 37);
        const std::uint8_t* p = &decoded->rgb[(static_cast<std::size_t>(y) * decoded->width + x) * 3];
        Rgb expected = quarters[static_cast<std::size_t>(i)];
        EXPECT_NEAR(p[0], expected.r, 6) << i;
        EXPECT_NEAR(p[1], expected.g, 6) << i;
        EXPECT_NEAR(p[2], expected.b, 6) << i;
    }
}

TEST_F(GdiScreenTest, TheScreenIsOneMonitorNamedByItsDisplayDevice) {
    ScreenState state = screen->state();
    ASSERT_TRUE(state.screen) << state.problem;
    EXPECT_EQ(std::string(screen->name()), "gdi");
    EXPECT_EQ(state.screen->display, "desktop 1280x720, 1 monitor");
    EXPECT_EQ(state.screen->size, (FrameSize{1280, 720}));
    ASSERT_EQ(state.screen->monitors.size(), 1u);
    const MonitorInfo& monitor = state.screen->monitors[0];
    EXPECT_EQ(monitor.area, (FrameRegion{0, 0, 1280, 720}));
    EXPECT_EQ(monitor_device_name(1, monitor), "Screen 1: DISPLAY1 1280x720");

    Shot whole = capture(*screen, "screen:1");
    EXPECT_EQ(whole.source, (FrameSize{1280, 720}));
    EXPECT_EQ(whole.at(window_x + 150, window_y + 112), quarters[3]);
    Fault missing = capture_fault(*screen, "screen:2");
    EXPECT_EQ(missing.kind, FaultKind::not_found);
    EXPECT_EQ(missing.message, "no monitor 2: the screen has 1 monitor");
}

TEST_F(GdiScreenTest, AWindowIsCutFromTheScreenWhereItLies) {
    std::string device = window_device_id(window->id());
    Shot shot = capture(*screen, device);
    EXPECT_EQ(shot.source, (FrameSize{window_width, window_height}));
    EXPECT_FALSE(shot.region);
    ASSERT_EQ(shot.width, window_width);
    ASSERT_EQ(shot.height, window_height);
    for (int y = 0; y < window_height; y += 3) {
        for (int x = 0; x < window_width; x += 3) ASSERT_EQ(shot.at(x, y), quarter_at(x, y)) << x << "," << y;
    }
    ASSERT_EQ(shot.at(window_width - 1, window_height - 1), quarters[3]);

    // Another window over it shows too: the picture is the screen's.
    TestWindow over({L"over", window_x + 150, window_y + 100, 100, 100, WS_POPUP | WS_VISIBLE, 0,
                     [](HDC dc, int width, int height) { fill(dc, 0, 0, width, height, colour_ref(cyan)); }});
    Shot covered;
    for (int i = 0; i < 100; ++i) {
        pump_messages(std::chrono::milliseconds(50));
        covered = capture(*screen, device);
        if (covered.at(199, 149) == cyan) break;
    }
    EXPECT_EQ(covered.at(199, 149), cyan);
    EXPECT_EQ(covered.at(149, 99), quarters[3]);
}

TEST_F(GdiScreenTest, RegionsCutTheirDeviceAndAreClippedToIt) {
    std::string device = window_device_id(window->id());
    // The window's top right quarter.
    Shot quarter = capture(*screen, device, FrameRegion{100, 0, 100, 75});
    EXPECT_EQ(quarter.source, (FrameSize{window_width, window_height}));
    EXPECT_EQ(quarter.region, (FrameRegion{100, 0, 100, 75}));
    ASSERT_EQ(quarter.width, 100);
    ASSERT_EQ(quarter.height, 75);
    EXPECT_EQ(quarter.at(0, 0), quarters[1]);
    EXPECT_EQ(quarter.at(99, 74), quarters[1]);
    // Partly outside the window: what lies inside.
    Shot clipped = capture(*screen, device, FrameRegion{150, 100, 100, 100});
    EXPECT_EQ(clipped.region, (FrameRegion{150, 100, 50, 50}));
    ASSERT_EQ(clipped.width, 50);
    EXPECT_EQ(clipped.at(49, 49), quarters[3]);
    // A region of the screen, at full resolution.
    Shot part = capture(*screen, "screen", FrameRegion{window_x + 10, window_y + 80, 30, 20});
    EXPECT_EQ(part.source, (FrameSize{1280, 720}));
    EXPECT_EQ(part.region, (FrameRegion{window_x + 10, window_y + 80, 30, 20}));
    EXPECT_EQ(part.at(0, 0), quarters[2]);
    EXPECT_EQ(part.at(29, 19), quarters[2]);

    Fault outside = capture_fault(*screen, device, FrameRegion{300, 0, 10, 10});
    EXPECT_EQ(outside.kind, FaultKind::bad_argument);
    EXPECT_NE(outside.message.find(device), std::string::npos) << outside.message;
    EXPECT_NE(outside.message.find("200x150"), std::string::npos) << outside.message;
    EXPECT_EQ(capture_fault(*screen, "screen", FrameRegion{1280, 0, 5, 5}).kind, FaultKind::bad_argument);
}

TEST_F(GdiScreenTest, AWindowPartlyOffTheScreenShowsWhatIsOnIt) {
    TestWindow half({L"half off", -100, 300, 200, 100, WS_POPUP | WS_VISIBLE, 0,
                     [](HDC dc, int width, int height) { fill(dc, 0, 0, width, height, colour_ref(cyan)); }});
    pump_messages(std::chrono::milliseconds(300));
    RECT placed{};
    GetWindowRect(half.handle(), &placed);
    if (placed.left != -100) GTEST_SKIP() << "wine placed the window at " << placed.left;
    Shot shot;
    for (int i = 0; i < 100; ++i) {
        shot = capture(*screen, window_device_id(half.id()));
        if (!shot.pixels.empty() && shot.at(0, 0) == cyan) break;
        pump_messages(std::chrono::milliseconds(50));
    }
    EXPECT_EQ(shot.source, (FrameSize{200, 100}));
    EXPECT_EQ(shot.region, (FrameRegion{100, 0, 100, 100}));
    EXPECT_EQ(shot.at(0, 0), cyan);
}

TEST_F(GdiScreenTest, WindowsAreListedAsTheUserSeesThem) {
    TestWindow hidden({L"hidden", 400, 100, 50, 50, WS_POPUP, 0, {}});
    TestWindow untitled({L"", 400, 200, 50, 50, WS_POPUP | WS_VISIBLE, 0, {}});
    TestWindow tool({L"tool", 400, 300, 50, 50, WS_POPUP | WS_VISIBLE, WS_EX_TOOLWINDOW, {}});
    TestWindow minimised({L"minimised", 400, 400, 50, 50, WS_POPUP | WS_VISIBLE, 0, {}});
    ShowWindow(minimised.handle(), SW_MINIMIZE);
    SetForegroundWindow(window->handle());
    pump_messages(std::chrono::milliseconds(200));

    std::vector<WindowInfo> windows = screen->windows();
    const WindowInfo* ours = nullptr;
    for (const WindowInfo& w : windows) {
        if (w.id == window->id()) ours = &w;
        for (const TestWindow* left_out : {&hidden, &untitled, &tool, &minimised}) {
            EXPECT_NE(w.id, left_out->id()) << w.title << " is listed";
        }
    }
    ASSERT_TRUE(ours) << "the test window is not listed";
    EXPECT_EQ(ours->title, window_title_utf8);
    EXPECT_EQ(ours->program, std::optional<std::string>("vistrel_windows_screen_tests.exe"));
    EXPECT_EQ(ours->area, (FrameRegion{window_x, window_y, window_width, window_height}));
    EXPECT_EQ(ours->monitor, 1);
    EXPECT_TRUE(ours->focused);
    EXPECT_EQ(std::count_if(windows.begin(), windows.end(), [](const WindowInfo& w) { return w.focused; }), 1);

    for (const std::string& id : {hidden.id(), tool.id(), std::string("0x1"), std::string("12x")}) {
        Fault fault = capture_fault(*screen, window_device_id(id));
        EXPECT_EQ(fault.kind, FaultKind::not_found) << id;
        EXPECT_NE(fault.message.find("GET /api/windows"), std::string::npos) << fault.message;
    }
}

TEST_F(GdiScreenTest, ThePointerIsDrawnWhereTheUserSeesIt) {
    // The arrow's tip in the middle of the top left quarter: the arrow
    // covers some pixels below and right of it.
    SetCursorPos(window_x + 40, window_y + 30);
    pump_messages(std::chrono::milliseconds(200));
    CURSORINFO cursor{};
    cursor.cbSize = sizeof cursor;
    if (!GetCursorInfo(&cursor) || !cursor.hCursor) GTEST_SKIP() << "the system shows no pointer here";
    auto changed = [&] {
        Shot shot = capture(*screen, window_device_id(window->id()), FrameRegion{40, 30, 16, 16});
        return std::count_if(shot.pixels.begin(), shot.pixels.end(), [](Rgb c) { return !(c == quarters[0]); });
    };
    EXPECT_GT(changed(), 10);
    SetCursorPos(1200, 700);
    pump_messages(std::chrono::milliseconds(200));
    EXPECT_EQ(changed(), 0);
}

TEST(GdiScreen, NoPictureWhileTheSecureDesktopIsShown) {
    // Wine shows no secure desktop: the backend is told the input desktop's
    // name, as Windows would give it.
    struct Case {
        std::vector<std::optional<std::string>> names;  // one for each look, the last repeated
        bool refused;
    };
    const Case cases[] = {
        {{"Winlogon"}, true},
        {{std::nullopt}, true},           // cannot even be opened
        {{"Default", "Winlogon"}, true},  // came up while the screen was copied
        {{"Screen-saver"}, true},
        {{"default"}, false},
    };
    for (const Case& c : cases) {
        std::size_t looks = 0;
        auto screen = make_gdi_screen({[&] { return c.names[std::min(looks++, c.names.size() - 1)]; }});
        bool handed = false;
        try {
            screen->capture(ScreenRequest{ScreenTarget{}, std::nullopt, "screen"},
                            [&](const ScreenShot&) { handed = true; });
            EXPECT_FALSE(c.refused) << looks;
        } catch (const Fault& fault) {
            EXPECT_TRUE(c.refused);
            EXPECT_EQ(fault.kind, FaultKind::unavailable);
            EXPECT_EQ(fault.message, "the screen is locked or a secure prompt is showing; try again once it is gone");
        }
        EXPECT_EQ(handed, !c.refused) << "never a picture of the secure desktop";
        if (c.names.size() > 1) continue;
        ScreenState state = screen->state();
        EXPECT_EQ(state.screen.has_value(), !c.refused);
        if (c.refused) {
            EXPECT_EQ(state.problem, secure_desktop_text);
            EXPECT_THROW(screen->windows(), Fault);
        }
    }
}

TEST(DpiAwareness, TheProcessIsAwareOfEachMonitorsDpiByManifestOrCode) {
    // Asked again after the suite's first call: stays as set.
    DpiAwareness awareness = make_process_dpi_aware();
    EXPECT_TRUE(awareness == DpiAwareness::per_monitor_v2 || awareness == DpiAwareness::per_monitor)
        << dpi_awareness_name(awareness);
    // The manifest that says so first is in this program as in the app.
    HRSRC found = FindResourceW(nullptr, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
    ASSERT_TRUE(found) << "no application manifest";
    const char* text = static_cast<const char*>(LockResource(LoadResource(nullptr, found)));
    std::string manifest(text, SizeofResource(nullptr, found));
    EXPECT_NE(manifest.find(">PerMonitorV2, PerMonitor</dpiAwareness>"), std::string::npos);
    EXPECT_NE(manifest.find(">true/pm</dpiAware>"), std::string::npos);
}
}  // namespace
