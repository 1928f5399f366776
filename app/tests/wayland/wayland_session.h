#pragma once
// vistrel-app inside a headless sway session of its own (see
// headless-session.sh), for one test.
#include "child.h"
#include "imaging/image.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

struct WaylandSessionOptions {
    bool portal = false;   // D-Bus, PipeWire and xdg-desktop-portal too
    bool decline = false;  // the portal declines every screen cast
    std::vector<std::string> app_args = {};
    int outputs = 1;                            // HEADLESS-1 … HEADLESS-N, each showing the background
    std::vector<std::string> sway_config = {};  // lines added to sway's configuration
};

class WaylandTest : public ::testing::Test {
protected:
    static constexpr int screen_width = 640;
    static constexpr int screen_height = 480;

    void TearDown() override;

    // Starts the session with the test picture as its background and the app
    // in it; sets `skip_reason` when a part of the session cannot start.
    void start_session(const WaylandSessionOptions& options);

    // Runs vistrel with `args` and --port=PORT in the test's work folder.
    RunResult vistrel(const std::vector<std::string>& args);

    // Takes screenshots into `name` until the background is shown (swaybg
    // draws it a moment after sway starts); the last picture.
    std::optional<Image> screenshot_of_background(const std::vector<std::string>& args, const std::string& name);

    std::string in_work(const std::string& name) const { return work + "/" + name; }

    std::string skip_reason;
    std::string temp, work, session;
    pid_t session_pid = -1;
    int port = 0;
};

// Starts the session or skips the test, saying why.
#define START_SESSION_OR_SKIP(...)                             \
    do {                                                       \
        start_session(__VA_ARGS__);                            \
        if (HasFatalFailure()) return;                         \
        if (!skip_reason.empty()) GTEST_SKIP() << skip_reason; \
    } while (0)

// The test picture: red, green, blue and white quarters (top left, top
// right, bottom left, bottom right), written as a PNG.
void write_quarters_png(const std::string& path, int width, int height);

// Whether `image` shows the four quarters, allowing for JPEG's losses.
::testing::AssertionResult shows_quarters(const Image& image);
