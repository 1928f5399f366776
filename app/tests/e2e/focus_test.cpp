// focus and look: the sweep over the simulated lens and the photo after it.
#include "app_fixture.h"

#include "imaging/sharpness.h"
#include "sanitizers.h"

#include <nlohmann/json.hpp>

#include <cstdlib>
#include <iostream>
#include <regex>
#include <set>

namespace {
using FocusTest = AppTest;

TEST_F(FocusTest, LookFocusesThenTakesAMuchSharperPhoto) {
    ASSERT_EQ(vistrel({"set", "focus", "0"}).exit_status, 0);
    ASSERT_EQ(vistrel({"snap", "--out", "unfocused.jpg"}).exit_status, 0);

    RunResult look = vistrel({"look", "--out", "focused.jpg"});
    ASSERT_EQ(look.exit_status, 0) << look.err;
    std::smatch m;
    ASSERT_TRUE(
        std::regex_match(look.out, m, std::regex(R"(focus (\d+) \(sharpness (\d+)\)\nfocused\.jpg  (\d+) bytes\n)")))
        << look.out;
    int locked = std::stoi(m[1]);
    EXPECT_LE(std::abs(locked - hidden_focus), 2) << "locked at " << locked;
    EXPECT_EQ(std::stoul(m[3]), read_file(in_work("focused.jpg")).size());

    auto focused = decode_jpeg_file(in_work("focused.jpg"));
    auto unfocused = decode_jpeg_file(in_work("unfocused.jpg"));
    ASSERT_TRUE(focused && unfocused);
    EXPECT_EQ(focused->width, 1280);
    EXPECT_EQ(focused->height, 720);
    double sharp = laplacian_variance(*focused), blurred = laplacian_variance(*unfocused);
    EXPECT_GT(sharp, 10 * blurred) << "focused " << sharp << ", at focus 0 " << blurred;

    std::cout << "look took " << look.took.count() << " ms, locked at " << locked << " (hidden " << hidden_focus
              << "); sharpness " << sharp << " against " << blurred << " at focus 0\n";
    RecordProperty("look_ms", static_cast<int>(look.took.count()));
    RecordProperty("locked_focus", locked);
    EXPECT_LT(look.took.count(), 5000 * sanitizer_slowdown);
}

TEST_F(FocusTest, FocusReportsEverySampleAndKeepsTheLock) {
    RunResult r = vistrel({"focus", "--json"});
    ASSERT_EQ(r.exit_status, 0) << r.err;
    auto reply = nlohmann::json::parse(r.out);
    const auto& sweep = reply.at("sweep");
    int locked = sweep.at("focus").get<int>();
    EXPECT_LE(std::abs(locked - hidden_focus), 2);

    const auto& samples = sweep.at("samples");
    ASSERT_GE(samples.size(), 17u);
    EXPECT_LE(samples.size(), 40u);
    std::set<int> positions;
    double best = 0;
    for (const auto& s : samples) {
        int f = s.at("focus").get<int>();
        EXPECT_TRUE(f >= 0 && f <= 255) << f;
        EXPECT_TRUE(positions.insert(f).second) << "position " << f << " tried twice";
        best = std::max(best, s.at("sharpness").get<double>());
    }
    EXPECT_DOUBLE_EQ(sweep.at("sharpness").get<double>(), best);
    EXPECT_TRUE(positions.count(locked));

    // The lens stays where the sweep locked it.
    auto controls = nlohmann::json::parse(vistrel({"controls", "--json"}).out);
    EXPECT_EQ(controls.at("controls").at(0).at("name"), "focus");
    EXPECT_EQ(controls.at("controls").at(0).at("value").get<int>(), locked);

    // The human form: a summary line and one chart row per sample.
    RunResult text = vistrel({"focus"});
    ASSERT_EQ(text.exit_status, 0);
    std::smatch m;
    ASSERT_TRUE(std::regex_search(text.out, m,
                                  std::regex("^locked focus (\\d+) \xc2\xb7 sharpness \\d+ \xc2\xb7 (\\d+) samples\n")))
        << text.out;
    std::size_t rows = std::count(text.out.begin(), text.out.end(), '\n') - 1;
    EXPECT_EQ(rows, std::stoul(m[2]));
}

TEST_F(FocusTest, DevicesWithoutALensAreRefused) {
    expect_refused(vistrel({"focus", "--device", "screen"}),
                   "screen has no lens to focus; the cameras that can focus are \"sim\"");
    expect_refused(vistrel({"look", "--device", "screen"}),
                   "screen has no lens to focus; the cameras that can focus are \"sim\"");
    expect_refused(vistrel({"focus", "--device", "7"}), "no device \"7\"; the devices are \"sim\", \"screen\"");
    EXPECT_FALSE(std::filesystem::exists(in_work("vistrel.jpg")));
}

// The sweep finds the sharp position wherever it hides.
class FocusPositionTest : public AppTest, public ::testing::WithParamInterface<int> {
protected:
    int focus_position() const override { return GetParam(); }
};

TEST_P(FocusPositionTest, LocksWithinTwoSteps) {
    RunResult r = vistrel({"focus", "--json"});
    ASSERT_EQ(r.exit_status, 0) << r.err;
    int locked = nlohmann::json::parse(r.out).at("sweep").at("focus").get<int>();
    EXPECT_LE(std::abs(locked - GetParam()), 2) << "locked at " << locked;
}

INSTANTIATE_TEST_SUITE_P(Hidden, FocusPositionTest, ::testing::Values(3, 64, 250));
}  // namespace
