#include "process/child_process.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

namespace {
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

struct TempFolder {
    std::filesystem::path path;
    TempFolder() {
        std::string pattern = (std::filesystem::temp_directory_path() / "vistrel-child-test-XXXXXX").string();
        path = mkdtemp(pattern.data());
    }
    ~TempFolder() { std::filesystem::remove_all(path); }
    std::string file(const char* name) const { return (path / name).string(); }
};

std::string read_text(const std::string& path) {
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

bool process_exists(pid_t pid) {
    return kill(pid, 0) == 0;
}

TEST(ChildProcess, RunsAProgramAndReportsItsExitStatus) {
    TempFolder temp;
    ChildSpawner children;
    ChildOutcome done = children.run({"sh", "-c", "echo to-stderr >&2; exit 3"}, temp.file("log"), 10s);
    EXPECT_TRUE(done.started);
    EXPECT_EQ(done.exit_status, 3);
    EXPECT_FALSE(done.timed_out);
    EXPECT_EQ(read_text(temp.file("log")), "to-stderr\n");

    ChildOutcome missing = children.run({"no-such-program-vistrel"}, temp.file("log"), 10s);
    EXPECT_FALSE(missing.started);
    EXPECT_EQ(missing.start_error, "No such file or directory");
}

TEST(ChildProcess, AChildGetsNoDescriptorOfTheApp) {
    TempFolder temp;
    // Opened the way a library might, without close-on-exec.
    int leaky = ::open(temp.file("leaky-marker").c_str(), O_WRONLY | O_CREAT, 0600);
    ASSERT_GE(leaky, 3);
    ChildSpawner children;
    ChildOutcome done = children.run({"sh", "-c", "ls -l /proc/$$/fd >&2; true"}, temp.file("log"), 10s);
    ::close(leaky);
    EXPECT_EQ(done.exit_status, 0);
    std::string open_files = read_text(temp.file("log"));
    EXPECT_NE(open_files.find("/dev/null"), std::string::npos) << open_files;
    EXPECT_EQ(open_files.find("leaky-marker"), std::string::npos) << open_files;
}

TEST(ChildProcess, ALateOrCancelledChildIsStoppedWithEverythingItStarted) {
    TempFolder temp;
    ChildSpawner children;
    for (bool by_cancel : {false, true}) {
        // The shell starts a sleep of its own and waits for it; both belong
        // to the child's process group.
        std::string pid_file = temp.file(by_cancel ? "cancelled.pid" : "late.pid");
        auto started = Clock::now();
        auto cancel_at = started + 300ms;
        ChildOutcome done =
            children.run({"sh", "-c", "sleep 30 & echo $! > " + pid_file + "; wait"}, temp.file("log"),
                         by_cancel ? 30s : 300ms, [&] { return by_cancel && Clock::now() >= cancel_at; });
        EXPECT_LT(Clock::now() - started, 5s);
        EXPECT_TRUE(done.started);
        EXPECT_EQ(done.timed_out, !by_cancel);
        EXPECT_EQ(done.cancelled, by_cancel);
        EXPECT_EQ(done.exit_status, -1);
        pid_t grandchild = std::atoi(read_text(pid_file).c_str());
        ASSERT_GT(grandchild, 0);
        for (int i = 0; i < 100 && process_exists(grandchild); ++i) std::this_thread::sleep_for(20ms);
        EXPECT_FALSE(process_exists(grandchild)) << "the grandchild was left running";
    }
}

TEST(ChildProcess, AChildAskedToFinishEarlyIsWaitedFor) {
    TempFolder temp;
    ChildSpawner children;
    // As ffmpeg does: on SIGINT it closes what it writes and ends.
    auto started = Clock::now();
    ChildOutcome done = children.run({"sh", "-c", "trap 'echo closing >&2; exit 7' INT; while :; do sleep 0.05; done"},
                                     temp.file("log"), 30s, {}, [&] { return Clock::now() - started > 300ms; });
    EXPECT_LT(Clock::now() - started, 5s);
    EXPECT_TRUE(done.asked_to_finish);
    EXPECT_FALSE(done.timed_out);
    EXPECT_FALSE(done.cancelled);
    EXPECT_EQ(done.exit_status, 7);
    EXPECT_EQ(read_text(temp.file("log")), "closing\n");
}

TEST(ChildProcess, StoppingEndsTheRunningChildrenAndStartsNoMore) {
    ChildSpawner children;
    std::thread stopper([&] {
        std::this_thread::sleep_for(300ms);
        children.stop_all();
    });
    auto started = Clock::now();
    ChildOutcome running = children.run({"sleep", "30"}, "/dev/null", 60s);
    stopper.join();
    EXPECT_TRUE(running.started);
    EXPECT_TRUE(running.interrupted);
    EXPECT_LT(Clock::now() - started, 5s);
    ChildOutcome later = children.run({"true"}, "/dev/null", 60s);
    EXPECT_FALSE(later.started);
    EXPECT_TRUE(later.interrupted);
    EXPECT_EQ(later.start_error, "vistrel-app is stopping");
}
}  // namespace
