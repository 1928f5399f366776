#include "app_fixture.h"

#include "imaging/jpeg.h"
#include "sanitizers.h"

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <sstream>

void AppTest::SetUp() {
    temp = make_temp_folder("vistrel-app-e2e");
    work = temp + "/work";
    config_home = temp + "/config";
    std::filesystem::create_directories(work);
    std::filesystem::create_directories(config_home);
    std::filesystem::create_directories(temp_folder());
    if (wants_display()) {
        xvfb = start_xvfb(temp + "/xvfb.log", display_size().first, display_size().second);
        prepare_display();
        if (HasFatalFailure()) return;
    }
    start_app_process();
}

void AppTest::TearDown() {
    stop_app(app);
    expect_no_sanitizer_report(app.log_path);
    if (HasFailure()) std::cerr << "--- vistrel-app log:\n" << read_file(app.log_path) << "---\n";
    stop_xvfb(xvfb);
    remove_folder(temp);
}

std::vector<std::string> AppTest::app_environment() const {
    std::vector<std::string> env = {"XDG_CONFIG_HOME=" + config_home, "TMPDIR=" + temp_folder()};
    if (wants_display()) env.push_back("DISPLAY=" + xvfb.name);
    return clean_environment(env);
}

void AppTest::start_app_process() {
    // The log of the app that ran before is about to be written over.
    if (!app.log_path.empty()) expect_no_sanitizer_report(app.log_path);
    std::vector<std::string> args = {"--fake-video-devices", video_devices_file()};
    if (!std::filesystem::exists(video_devices_file())) write_file(video_devices_file(), webcams());
    // The fake cameras are built into the app: under the sanitizers they
    // draw frames several times slower, and the webcams' time limits grow
    // with them, unless a test sets its own.
    std::vector<std::string> limits = camera_limits();
    auto scale_unless_set = [&](const std::string& option, int default_ms) {
        if (sanitizer_slowdown == 1 || std::find(limits.begin(), limits.end(), option) != limits.end()) return;
        args.insert(args.end(), {option, std::to_string(default_ms * sanitizer_slowdown)});
    };
    scale_unless_set("--frame-timeout-ms", 3000);
    for (const auto& limit : limits) args.push_back(limit);
    if (wants_simulated_camera()) {
        args.insert(args.end(), {"--simulated-camera", "--focus-at", std::to_string(focus_position())});
    }
    for (const auto& arg : extra_app_args()) args.push_back(arg);
    app = start_app(args, app_environment(), temp + "/app.log", app_with_fake_cameras, app_launcher());
}

void AppTest::plug(const std::string& webcams) {
    // Whole or not at all: the app reads the set at any moment.
    write_file(video_devices_file() + ".new", webcams);
    std::filesystem::rename(video_devices_file() + ".new", video_devices_file());
}

std::vector<std::string> AppTest::webcam_events() const {
    std::vector<std::string> events;
    std::istringstream lines(read_file(video_devices_file() + ".log"));
    for (std::string line; std::getline(lines, line);) events.push_back(line);
    return events;
}

void AppTest::restart_app() {
    ASSERT_EQ(stop_app(app), 0) << "the app should end cleanly on SIGTERM";
    start_app_process();
}

RunResult AppTest::vistrel(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {VISTREL_CLIENT_BINARY};
    argv.insert(argv.end(), args.begin(), args.end());
    argv.push_back("--port=" + std::to_string(app.port));
    return run_program(argv, work, clean_environment({}));
}

void expect_refused(const RunResult& result, const std::string& message) {
    EXPECT_EQ(result.exit_status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "error: " + message + "\n");
}

std::optional<Image> decode_jpeg_file(const std::string& path) {
    return decode_jpeg(read_file(path));
}

void expect_no_sanitizer_report(const std::string& log_path) {
    std::string log = read_file(log_path);
    EXPECT_EQ(log.find("Sanitizer"), std::string::npos) << log;
    EXPECT_EQ(log.find("runtime error:"), std::string::npos) << log;
}

long peak_memory_kib(pid_t pid) {
    std::istringstream status(read_file("/proc/" + std::to_string(pid) + "/status"));
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmHWM:", 0) == 0) return std::stol(line.substr(6));
    }
    return -1;
}

double mean_level(const Image& image) {
    double sum = 0;
    for (auto v : image.rgb) sum += v;
    return image.rgb.empty() ? 0 : sum / image.rgb.size();
}
