#include "app_process.h"

#include "child.h"

#include <unistd.h>

#include <chrono>
#include <regex>
#include <stdexcept>

AppProcess start_app(const std::vector<std::string>& args, const std::vector<std::string>& env,
                     const std::string& log_path, const std::string& binary, const std::vector<std::string>& launcher) {
    int pipe_fds[2];
    if (pipe(pipe_fds) != 0) throw std::runtime_error("pipe failed");
    std::vector<std::string> argv = launcher;
    argv.insert(argv.end(), {binary, "--port", "0"});
    argv.insert(argv.end(), args.begin(), args.end());
    AppProcess app;
    app.log_path = log_path;
    app.pid = spawn_program(argv, env, pipe_fds[1], log_path);
    close(pipe_fds[1]);

    std::string line = read_first_line(pipe_fds[0], std::chrono::seconds(10));
    close(pipe_fds[0]);
    std::smatch match;
    static const std::regex listening(R"(^vistrel-app \S+ listening on http://127\.0\.0\.1:(\d+)/api\n$)");
    if (!std::regex_match(line, match, listening)) {
        stop_program(app.pid);
        throw std::runtime_error("vistrel-app did not start (first line \"" + line + "\"): " + read_file(log_path));
    }
    app.port = std::stoi(match[1]);
    return app;
}

int stop_app(AppProcess& app) {
    int status = app.pid > 0 ? stop_program(app.pid) : -1;
    app.pid = -1;
    return status;
}
