// Measures what vistrel-mcp adds to a photo: `snap` through vistrel-mcp
// against the app's own time for the same frame (one HTTP exchange, no
// process start) and against `vistrel snap`, interleaved so that a busy
// machine slows all three alike; and vistrel-mcp's resident memory before
// and after the calls.
//
//   mcp_bench VISTREL_MCP VISTREL PORT [CALLS]
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "client/http.h"

extern char** environ;

namespace {
using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

struct Child {
    pid_t pid = -1;
    int in = -1, out = -1;
    std::string pending;

    void write_line(const std::string& line) {
        std::string text = line + "\n";
        if (write(in, text.data(), text.size()) != static_cast<ssize_t>(text.size())) throw std::runtime_error("write");
    }
    std::string read_line() {
        for (;;) {
            std::size_t feed = pending.find('\n');
            if (feed != std::string::npos) {
                std::string line = pending.substr(0, feed);
                pending.erase(0, feed + 1);
                return line;
            }
            char buffer[1 << 16];
            ssize_t got = read(out, buffer, sizeof buffer);
            if (got <= 0) throw std::runtime_error("vistrel-mcp ended");
            pending.append(buffer, static_cast<std::size_t>(got));
        }
    }
};

Child start(const std::string& binary, const std::string& port) {
    int in[2], out[2];
    if (pipe(in) < 0 || pipe(out) < 0) throw std::runtime_error("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_addclose(&actions, in[1]);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    std::vector<std::string> words = {binary, "--port", port};
    std::vector<char*> argv;
    for (auto& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    Child child;
    if (posix_spawn(&child.pid, binary.c_str(), &actions, nullptr, argv.data(), environ) != 0) {
        throw std::runtime_error("spawn");
    }
    posix_spawn_file_actions_destroy(&actions);
    close(in[0]);
    close(out[1]);
    child.in = in[1];
    child.out = out[0];
    return child;
}

long resident_kib(pid_t pid) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    }
    return -1;
}

double run_vistrel_snap(const std::string& vistrel, const std::string& port, const std::string& out) {
    std::vector<std::string> words = {vistrel, "snap", "--port=" + port, "--out=" + out};
    std::vector<char*> argv;
    for (auto& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    auto start = Clock::now();
    pid_t pid;
    if (posix_spawn(&pid, vistrel.c_str(), &actions, nullptr, argv.data(), environ) != 0) {
        throw std::runtime_error("spawn");
    }
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    waitpid(pid, &status, 0);
    if (status != 0) throw std::runtime_error("vistrel snap failed");
    return ms_since(start);
}

struct Summary {
    double median, mean, p90;
};

Summary summary(std::vector<double> times) {
    std::sort(times.begin(), times.end());
    double sum = 0;
    for (double t : times) sum += t;
    return {times[times.size() / 2], sum / static_cast<double>(times.size()), times[times.size() * 9 / 10]};
}
}  // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "usage: mcp_bench VISTREL_MCP VISTREL PORT [CALLS]\n");
        return 2;
    }
    std::string mcp = argv[1], vistrel = argv[2], port = argv[3];
    int calls = argc > 4 ? std::stoi(argv[4]) : 1000;
    std::string frame_url = "http://127.0.0.1:" + port + "/api/frame.jpg?_=";
    std::string snap_line = R"({"jsonrpc":"2.0","id":1,"method":"tools/call","params":{"name":"snap","arguments":{}}})";

    Child child = start(mcp, port);
    child.write_line(R"({"jsonrpc":"2.0","id":0,"method":"initialize","params":{"protocolVersion":"2025-11-25"}})");
    child.read_line();
    std::size_t reply_bytes = 0;
    for (int i = 0; i < 20; ++i) {  // warm-up: the app's encoder, the server's workers and heap
        child.write_line(snap_line);
        reply_bytes = child.read_line().size();
    }
    long rss_before = resident_kib(child.pid);

    std::vector<double> app_times, mcp_times, cli_times;
    std::string out = "/tmp/mcp-bench-" + std::to_string(getpid()) + ".jpg";
    std::uint64_t jpeg_bytes = 0;
    for (int i = 0; i < calls; ++i) {
        auto start = Clock::now();
        Result<HttpReply, IoError> direct = http_exchange("GET", frame_url, {});
        app_times.push_back(ms_since(start));
        if (!direct || direct.value().status != 200) throw std::runtime_error("frame request failed");
        jpeg_bytes = direct.value().body.size();

        start = Clock::now();
        child.write_line(snap_line);
        std::string reply = child.read_line();
        mcp_times.push_back(ms_since(start));
        if (reply.find("\"image\"") == std::string::npos) throw std::runtime_error("no image: " + reply.substr(0, 300));

        if (i % 5 == 0) cli_times.push_back(run_vistrel_snap(vistrel, port, out));
    }
    long rss_after = resident_kib(child.pid);
    std::remove(out.c_str());
    close(child.in);
    waitpid(child.pid, nullptr, 0);

    Summary app = summary(app_times), through_mcp = summary(mcp_times), cli = summary(cli_times);
    std::printf("%d snaps of %llu-byte JPEGs (%zu-byte MCP replies), interleaved\n", calls,
                static_cast<unsigned long long>(jpeg_bytes), reply_bytes);
    std::printf("%-34s %8s %8s %8s\n", "", "median", "mean", "p90");
    std::printf("%-34s %8.2f %8.2f %8.2f ms\n", "the app's own time (one exchange)", app.median, app.mean, app.p90);
    std::printf("%-34s %8.2f %8.2f %8.2f ms\n", "snap through vistrel-mcp", through_mcp.median, through_mcp.mean,
                through_mcp.p90);
    std::printf("%-34s %8.2f %8.2f %8.2f ms  (%zu runs)\n", "vistrel snap (process, file)", cli.median, cli.mean, cli.p90,
                cli_times.size());
    std::printf("vistrel-mcp adds %.2f ms (median), %.2f ms (mean) to the app's own time\n",
                through_mcp.median - app.median, through_mcp.mean - app.mean);
    std::printf("vistrel-mcp resident memory: %ld KiB after warm-up, %ld KiB after %d calls (%+ld KiB)\n", rss_before,
                rss_after, calls, rss_after - rss_before);
    return 0;
}
