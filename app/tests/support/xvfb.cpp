#include "xvfb.h"

#include "child.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

XvfbDisplay start_xvfb(const std::string& log_path, int width, int height) {
    int pipe_fds[2];
    if (pipe(pipe_fds) != 0) throw std::runtime_error("pipe failed");
    XvfbDisplay display;
    display.pid =
        spawn_program({"Xvfb", "-displayfd", "3", "-screen", "0",
                       std::to_string(width) + "x" + std::to_string(height) + "x24", "-nolisten", "tcp", "-noreset"},
                      clean_environment({}), -1, log_path, pipe_fds[1]);
    close(pipe_fds[1]);
    // Xvfb writes its display number to descriptor 3 once it accepts clients.
    std::string number = read_first_line(pipe_fds[0], std::chrono::seconds(15));
    close(pipe_fds[0]);
    if (number.find('\n') == std::string::npos) {
        stop_program(display.pid);
        throw std::runtime_error("Xvfb did not start: " + read_file(log_path));
    }
    char name[16];
    std::snprintf(name, sizeof name, ":%d", std::atoi(number.c_str()));
    display.name = name;
    return display;
}

void stop_xvfb(XvfbDisplay& display) {
    if (display.pid > 0) stop_program(display.pid);
    display.pid = -1;
}

void set_xvfb_monitors(const XvfbDisplay& display, const std::vector<std::string>& monitors) {
    auto env = clean_environment({"DISPLAY=" + display.name});
    // Xvfb's one output is called "screen": the first monitor takes it over
    // (else RandR would keep a monitor of the whole screen beside them).
    bool first = true;
    for (const std::string& monitor : monitors) {
        std::string name = monitor.substr(0, monitor.find(' '));
        std::string geometry = monitor.substr(monitor.find(' ') + 1);
        // xrandr wants the size in millimetres too: about 96 dots an inch.
        int width = std::stoi(geometry), height = std::stoi(geometry.substr(geometry.find('x') + 1));
        std::string rest = geometry.substr(geometry.find('+'));
        std::string size_and_place = std::to_string(width) + "/" + std::to_string(width * 254 / 960) + "x" +
                                     std::to_string(height) + "/" + std::to_string(height * 254 / 960) + rest;
        RunResult r =
            run_program({"xrandr", "--setmonitor", name, size_and_place, first ? "screen" : "none"}, "/", env);
        if (r.exit_status != 0) throw std::runtime_error("xrandr --setmonitor failed: " + r.err);
        first = false;
    }
}
