// status, devices, controls and set.
#include "app_fixture.h"

#include "imaging/sharpness.h"

#include <cmath>

namespace {
using InventoryTest = AppTest;

TEST_F(InventoryTest, StatusNamesVersionPortAndDefaults) {
    RunResult r = vistrel({"status"});
    ASSERT_EQ(r.exit_status, 0) << r.err;
    EXPECT_EQ(r.out, "vistrel \"0.1.0\" on port " + std::to_string(app.port) + "\n  camera  sim\n  size    1280x720\n");
}

TEST_F(InventoryTest, DevicesListsTheSimulatedCameraAndTheScreen) {
    RunResult r = vistrel({"devices"});
    ASSERT_EQ(r.exit_status, 0) << r.err;
    EXPECT_EQ(r.out,
              "  sim  Simulated camera (test scene)      focusable\n"
              "  screen  Screen " +
                  xvfb.name + " (1280x720)" +
                  std::string(34 - std::string("Screen " + xvfb.name + " (1280x720)").size(), ' ') + " fixed focus\n");
}

TEST_F(InventoryTest, ControlsListEveryKnobWithItsRange) {
    RunResult r = vistrel({"controls"});
    ASSERT_EQ(r.exit_status, 0) << r.err;
    EXPECT_EQ(r.out,
              "  focus          0..255  now 128\n"
              "  zoom           100..400  now 100\n"
              "  exposure       1..100  now 50\n"
              "  brightness     -100..100  now 0\n");
    // The screen has no knobs: an empty list, which the client prints as nothing.
    RunResult screen = vistrel({"controls", "--device", "screen"});
    EXPECT_EQ(screen.exit_status, 0);
    EXPECT_EQ(screen.out, "");
}

TEST_F(InventoryTest, SetChangesOneControlAndReportsThePreviousValue) {
    RunResult r = vistrel({"set", "focus", "60"});
    ASSERT_EQ(r.exit_status, 0) << r.err;
    EXPECT_EQ(r.out, "\"focus\" = 60 (was 128)\n");
    EXPECT_EQ(vistrel({"set", "zoom", "250", "--device", "sim"}).out, "\"zoom\" = 250 (was 100)\n");
    RunResult controls = vistrel({"controls"});
    EXPECT_NE(controls.out.find("  focus          0..255  now 60\n"), std::string::npos) << controls.out;
    EXPECT_NE(controls.out.find("  zoom           100..400  now 250\n"), std::string::npos) << controls.out;
}

TEST_F(InventoryTest, SetRefusesUnknownControlsValuesOutOfRangeAndDevicesWithoutKnobs) {
    struct Case {
        std::vector<std::string> args;
        std::string message;
    };
    const Case cases[] = {
        {{"set", "iris", "5"}, "unknown control \"iris\"; the controls are focus, zoom, exposure, brightness"},
        {{"set", "focus", "256"}, "focus must be between 0 and 255 (got 256)"},
        {{"set", "focus", "-1"}, "focus must be between 0 and 255 (got -1)"},
        {{"set", "zoom", "99"}, "zoom must be between 100 and 400 (got 99)"},
        {{"set", "brightness", "9223372036854775807"},
         "brightness must be between -100 and 100 (got 9223372036854775807)"},
        {{"set", "focus", "5", "--device", "screen"}, "screen has no controls to set"},
        {{"set", "focus", "5", "--device", "2"}, "no device \"2\"; the devices are \"sim\", \"screen\""},
    };
    for (const auto& c : cases) expect_refused(vistrel(c.args), c.message);
    EXPECT_NE(vistrel({"controls"}).out.find("now 128"), std::string::npos) << "a refused set changed the focus";
}

struct Look {
    double level;
    double sharpness;
    Image picture;
};

TEST_F(InventoryTest, ControlsReallyChangeThePicture) {
    ASSERT_EQ(vistrel({"set", "focus", std::to_string(hidden_focus)}).exit_status, 0);
    auto take = [&]() {
        RunResult r = vistrel({"snap", "--size", "320x180", "--out", "frame.jpg"});
        EXPECT_EQ(r.exit_status, 0) << r.err;
        auto picture = decode_jpeg_file(in_work("frame.jpg"));
        if (!picture) return Look{0, 0, {}};
        return Look{mean_level(*picture), laplacian_variance(*picture), *picture};
    };
    auto difference = [](const Image& a, const Image& b) {
        double sum = 0;
        for (std::size_t i = 0; i < a.rgb.size() && i < b.rgb.size(); ++i) sum += std::abs(a.rgb[i] - b.rgb[i]);
        return sum / a.rgb.size();
    };
    Look base = take();

    struct Case {
        const char* control;
        const char* value;
        std::string normal;
        std::function<bool(const Look&)> changed;
    };
    const Case cases[] = {
        {"brightness", "-100", "0", [&](const Look& l) { return l.level < base.level - 60; }},
        {"brightness", "100", "0", [&](const Look& l) { return l.level > base.level + 40; }},
        {"exposure", "10", "50", [&](const Look& l) { return l.level < base.level * 0.4; }},
        {"exposure", "100", "50", [&](const Look& l) { return l.level > base.level + 40; }},
        {"zoom", "400", "100", [&](const Look& l) { return difference(l.picture, base.picture) > 20; }},
        {"focus", "0", std::to_string(hidden_focus), [&](const Look& l) { return l.sharpness < base.sharpness / 10; }},
    };
    for (const auto& c : cases) {
        ASSERT_EQ(vistrel({"set", c.control, c.value}).exit_status, 0);
        Look changed = take();
        EXPECT_TRUE(c.changed(changed)) << c.control << "=" << c.value << ": level " << changed.level << " (was "
                                        << base.level << "), sharpness " << changed.sharpness << " (was "
                                        << base.sharpness << ")";
        ASSERT_EQ(vistrel({"set", c.control, c.normal}).exit_status, 0);
    }
}
}  // namespace
