#include "xvfb.h"

#include "child.h"

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>

XvfbDisplay start_xvfb(const std::string& log_path) {
    int pipe_fds[2];
    if (pipe(pipe_fds) != 0) throw std::runtime_error("pipe failed");
    XvfbDisplay display;
    display.pid = spawn_program(
        {"Xvfb", "-displayfd", "3", "-screen", "0",
         std::to_string(xvfb_width) + "x" + std::to_string(xvfb_height) + "x24", "-nolisten", "tcp", "-noreset"},
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
