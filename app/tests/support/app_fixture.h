#pragma once
// Every end-to-end test gets its own folder, config folder, Xvfb display and
// vistrel-app on a free port, and runs the real client against them.
#include "app_process.h"
#include "child.h"
#include "imaging/image.h"
#include "xvfb.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <utility>
#include <vector>

class AppTest : public ::testing::Test {
protected:
    static constexpr int hidden_focus = 137;  // where the simulated lens is sharp

    void SetUp() override;
    void TearDown() override;

    // Overridden by tests that need the app without a display, without the
    // simulated camera, with another hidden focus position, with webcams (the
    // lines of a fake device set, see tests/fake_v4l2) or with other time
    // limits for them.
    virtual bool wants_display() const { return true; }
    virtual bool wants_simulated_camera() const { return true; }
    virtual int focus_position() const { return hidden_focus; }
    // More options for the app.
    virtual std::vector<std::string> extra_app_args() const { return {}; }
    // The display's size, and what is done to it before the app starts.
    virtual std::pair<int, int> display_size() const { return {xvfb_width, xvfb_height}; }
    virtual void prepare_display() {}
    // A command the app is started through (it ends by running its
    // arguments), for limits set from outside.
    virtual std::vector<std::string> app_launcher() const { return {}; }
    virtual std::string webcams() const { return ""; }
    virtual std::vector<std::string> camera_limits() const { return {}; }

    // Plugs webcams in and out: the fake device set from now on.
    void plug(const std::string& webcams);
    // What the app did to the fake devices so far, one event a line.
    std::vector<std::string> webcam_events() const;

    // Runs vistrel with `args` and --port=PORT in the test's work folder.
    RunResult vistrel(const std::vector<std::string>& args);
    void restart_app();
    // Starts the app again after it was stopped or killed.
    void start_app_process();
    // The environment the app runs in: its own display, config and
    // temporary folder.
    std::vector<std::string> app_environment() const;

    std::string in_work(const std::string& name) const { return work + "/" + name; }
    std::string sources_file() const { return config_home + "/vistrel/sources.json"; }
    std::string temp_folder() const { return temp + "/tmp"; }
    std::string video_devices_file() const { return temp + "/video-devices"; }

    std::string temp;
    std::string work;
    std::string config_home;
    XvfbDisplay xvfb;
    AppProcess app;
};

// The client's refusal: "error: MESSAGE" on stderr, nothing on stdout, exit 1.
void expect_refused(const RunResult& result, const std::string& message);

std::optional<Image> decode_jpeg_file(const std::string& path);

// A sanitizer's report in an app's log fails the test that led to it.
void expect_no_sanitizer_report(const std::string& log_path);

// The most memory the process has held so far (VmHWM), in KiB.
long peak_memory_kib(pid_t pid);
double mean_level(const Image& image);
