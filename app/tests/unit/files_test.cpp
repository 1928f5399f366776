#include "platform/files.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <random>
#include <string>

namespace {
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

#ifndef _WIN32
TEST(Files, TheConfigFolderFollowsTheBaseDirectoryRules) {
    EXPECT_EQ(config_folder_from("/x/config", "/home/ann"), "/x/config/vistrel");
    EXPECT_EQ(config_folder_from(nullptr, "/home/ann"), "/home/ann/.config/vistrel");
    EXPECT_EQ(config_folder_from("", "/home/ann"), "/home/ann/.config/vistrel");
    // A relative XDG_CONFIG_HOME is to be ignored.
    EXPECT_EQ(config_folder_from("relative/dir", "/home/ann"), "/home/ann/.config/vistrel");
    // Without HOME the password database still names a home.
    EXPECT_EQ(config_folder_from(nullptr, nullptr).filename(), "vistrel");
}
#endif

TEST(Files, ALockHeldElsewhereIsWaitedForOnlyUntilTheDeadline) {
    std::random_device random;
    auto folder = std::filesystem::temp_directory_path() / ("vistrel-lock-test-" + std::to_string(random()));
    std::filesystem::create_directories(folder);
    auto path = folder / "x.lock";
    {
        FileLock held(path, Clock::now() + 1s);
        auto started = Clock::now();
        try {
            FileLock second(path, Clock::now() + 100ms);
            ADD_FAILURE() << "a held lock was taken twice";
        } catch (const FileError& e) {
            EXPECT_EQ(std::string(e.what()).rfind("cannot lock " + path.string() + ": ", 0), 0u) << e.what();
        }
        EXPECT_GE(Clock::now() - started, 100ms);
        EXPECT_LT(Clock::now() - started, 2s);
    }
    {
        // Let go with its holder.
        FileLock again(path, Clock::now() + 100ms);
    }
    std::filesystem::remove_all(folder);
}
}  // namespace
