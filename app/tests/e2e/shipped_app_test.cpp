// The shipped vistrel-app itself, on this machine's own video devices:
// every other test runs the same app over fake devices.
#include "app_fixture.h"

#include <nlohmann/json.hpp>

namespace {
class ShippedAppTest : public AppTest {
protected:
    bool wants_display() const override { return false; }

    void start_shipped(std::vector<std::string> args) {
        stop_app(app);
        app = start_app(args, clean_environment({"XDG_CONFIG_HOME=" + config_home}), temp + "/app.log", shipped_app);
    }

    std::vector<std::string> device_ids() {
        RunResult r = vistrel({"devices", "--json"});
        EXPECT_EQ(r.exit_status, 0) << r.err;
        std::vector<std::string> ids;
        auto reply = nlohmann::json::parse(r.out);
        for (const auto& device : reply.at("devices")) ids.push_back(device.at("id"));
        return ids;
    }
};

TEST_F(ShippedAppTest, ServesTheSimulatedCameraOnlyWhenAskedFor) {
    start_shipped({"--simulated-camera", "--focus-at", "90"});
    auto ids = device_ids();
    EXPECT_NE(std::find(ids.begin(), ids.end(), "sim"), ids.end());
    RunResult snap = vistrel({"snap", "--device", "sim", "--size", "64x36"});
    EXPECT_EQ(snap.exit_status, 0) << snap.err;

    start_shipped({});
    ids = device_ids();
    EXPECT_EQ(std::find(ids.begin(), ids.end(), "sim"), ids.end());
    expect_refused(
        vistrel({"snap", "--device", "sim"}), "no device \"sim\"; the devices are " + [&] {
            std::string listed;
            for (const auto& id : ids) listed += (listed.empty() ? "\"" : ", \"") + id + "\"";
            return listed.empty() ? std::string("none") : listed;
        }());
}

TEST_F(ShippedAppTest, ItsUsageNamesTheSimulatedCamera) {
    RunResult help = run_program({shipped_app, "--help"}, work, clean_environment({}));
    EXPECT_EQ(help.exit_status, 0);
    EXPECT_NE(help.out.find("--simulated-camera"), std::string::npos) << help.out;
    RunResult fake_option = run_program({shipped_app, "--fake-video-devices", "/tmp/x"}, work, clean_environment({}));
    EXPECT_EQ(fake_option.exit_status, 2) << "the shipped app has no fake cameras to offer";
    EXPECT_NE(fake_option.err.find("unknown option --fake-video-devices"), std::string::npos) << fake_option.err;
}
}  // namespace
