#include "wayland_session.h"

#include "imaging/jpeg.h"

#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <iostream>
#include <regex>
#include <thread>

namespace fs = std::filesystem;

void WaylandTest::start_session(const WaylandSessionOptions& options) {
    temp = make_temp_folder("vistrel-wayland");
    work = temp + "/work";
    session = temp + "/session";
    fs::create_directories(work);
    fs::create_directories(session + "/bin");
    // The session may run as another user, who must reach the app and the
    // background picture.
    chmod(temp.c_str(), 0755);
    chmod((session + "/bin").c_str(), 0755);
    fs::copy_file(VISTREL_APP_BINARY, session + "/bin/vistrel-app");
    chmod((session + "/bin/vistrel-app").c_str(), 0755);
    std::string background = session + "/background.png";
    write_quarters_png(background, screen_width, screen_height);
    chmod(background.c_str(), 0644);

    std::vector<std::string> argv = {VISTREL_WAYLAND_SESSION_SCRIPT};
    if (options.portal) argv.push_back("--portal");
    if (options.decline) argv.push_back("--decline-screencast");
    argv.insert(argv.end(), {"--outputs", std::to_string(options.outputs)});
    for (const auto& line : options.sway_config) argv.insert(argv.end(), {"--config", line});
    argv.insert(argv.end(),
                {"--background", background + " stretch", session, session + "/bin/vistrel-app", "--port", "0"});
    argv.insert(argv.end(), options.app_args.begin(), options.app_args.end());
    // A small screen keeps the recordings quick on a busy machine.
    argv.insert(argv.begin() + 1, {"--resolution", std::to_string(screen_width) + "x" + std::to_string(screen_height)});

    int pipe_fds[2];
    ASSERT_EQ(pipe(pipe_fds), 0);
    session_pid = spawn_program(argv, clean_environment({}), pipe_fds[1], temp + "/session.log");
    close(pipe_fds[1]);
    std::string line = read_first_line(pipe_fds[0], std::chrono::seconds(40));
    close(pipe_fds[0]);
    if (line.rfind("skip: ", 0) == 0) {
        skip_reason = line.substr(6, line.size() - 7);
        return;
    }
    std::smatch match;
    static const std::regex listening(R"(^vistrel-app \S+ listening on http://127\.0\.0\.1:(\d+)/api\n$)");
    ASSERT_TRUE(std::regex_match(line, match, listening))
        << "the session or the app did not start (first line \"" << line << "\"): " << read_file(temp + "/session.log")
        << read_file(session + "/sway.log") << read_file(session + "/command.log");
    port = std::stoi(match[1]);
}

void WaylandTest::TearDown() {
    if (HasFailure() && !session.empty()) {
        std::cerr << "--- vistrel-app log:\n"
                  << read_file(session + "/command.log") << "--- sway log:\n"
                  << read_file(session + "/sway.log") << "---\n";
    }
    if (session_pid > 0) stop_program(session_pid, std::chrono::seconds(15));
    if (!temp.empty()) remove_folder(temp);
}

RunResult WaylandTest::vistrel(const std::vector<std::string>& args) {
    std::vector<std::string> argv = {VISTREL_CLIENT_BINARY};
    argv.insert(argv.end(), args.begin(), args.end());
    argv.push_back("--port=" + std::to_string(port));
    return run_program(argv, work, clean_environment({}));
}

std::optional<Image> WaylandTest::screenshot_of_background(const std::vector<std::string>& args,
                                                           const std::string& name) {
    std::optional<Image> shot;
    auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(15);
    do {
        std::vector<std::string> all = args;
        all.insert(all.end(), {"--out", name});
        RunResult r = vistrel(all);
        EXPECT_EQ(r.exit_status, 0) << r.err;
        if (r.exit_status != 0) return std::nullopt;
        shot = decode_jpeg(read_file(in_work(name)));
        if (!shot) return shot;
        if (shows_quarters(*shot)) return shot;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    } while (std::chrono::steady_clock::now() < give_up);
    return shot;
}

void write_quarters_png(const std::string& path, int width, int height) {
    std::vector<std::uint8_t> rgb(static_cast<std::size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            bool right = x >= width / 2, bottom = y >= height / 2;
            std::uint8_t* p = &rgb[(static_cast<std::size_t>(y) * width + x) * 3];
            p[0] = (!bottom && !right) || (bottom && right) ? 255 : 0;
            p[1] = (!bottom && right) || (bottom && right) ? 255 : 0;
            p[2] = (bottom && !right) || (bottom && right) ? 255 : 0;
        }
    }
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    png.width = static_cast<png_uint_32>(width);
    png.height = static_cast<png_uint_32>(height);
    png.format = PNG_FORMAT_RGB;
    if (!png_image_write_to_file(&png, path.c_str(), 0, rgb.data(), 0, nullptr)) {
        throw std::runtime_error("cannot write " + path);
    }
}

::testing::AssertionResult shows_quarters(const Image& image) {
    struct Spot {
        double fx, fy;
        int r, g, b;
        const char* name;
    };
    const Spot spots[] = {{0.25, 0.25, 255, 0, 0, "top left (red)"},
                          {0.75, 0.25, 0, 255, 0, "top right (green)"},
                          {0.25, 0.75, 0, 0, 255, "bottom left (blue)"},
                          {0.75, 0.75, 255, 255, 255, "bottom right (white)"}};
    for (const Spot& s : spots) {
        int x = static_cast<int>(s.fx * image.width), y = static_cast<int>(s.fy * image.height);
        const std::uint8_t* p = &image.rgb[(static_cast<std::size_t>(y) * image.width + x) * 3];
        if (std::abs(p[0] - s.r) > 40 || std::abs(p[1] - s.g) > 40 || std::abs(p[2] - s.b) > 40) {
            return ::testing::AssertionFailure()
                   << s.name << " is " << int(p[0]) << "," << int(p[1]) << "," << int(p[2]);
        }
    }
    return ::testing::AssertionSuccess();
}
