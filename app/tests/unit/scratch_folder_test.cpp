#include "recording/scratch_folder.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <fstream>

namespace fs = std::filesystem;

namespace {
struct TempFolder {
    fs::path path;
    TempFolder() {
        std::string pattern = (fs::temp_directory_path() / "vistrel-scratch-test-XXXXXX").string();
        path = mkdtemp(pattern.data());
    }
    ~TempFolder() { fs::remove_all(path); }
};

TEST(ScratchFolder, IsRemovedWithItsFilesWhenDone) {
    TempFolder temp;
    fs::path made;
    {
        ScratchFolder scratch(temp.path);
        made = scratch.path();
        EXPECT_EQ(made.parent_path(), temp.path);
        EXPECT_EQ(made.filename().string().rfind("vistrel-record-", 0), 0u);
        std::ofstream(made / "screen.webm") << "bytes";
    }
    EXPECT_FALSE(fs::exists(made));
}

TEST(ScratchFolder, OnlyFoldersOfAppsThatAreGoneAreRemoved) {
    TempFolder temp;
    ScratchFolder alive(temp.path);
    // Left by an app that was killed: its lock file is there but nobody holds it.
    fs::create_directory(temp.path / "vistrel-record-dead01");
    std::ofstream(temp.path / "vistrel-record-dead01" / "owner.lock");
    std::ofstream(temp.path / "vistrel-record-dead01" / "screen.webm") << "half a recording";
    // Without a lock file: no running app can be using it.
    fs::create_directory(temp.path / "vistrel-record-dead02");
    // Somebody else's.
    fs::create_directory(temp.path / "other-folder");

    EXPECT_EQ(remove_abandoned_scratch(temp.path), 2);
    EXPECT_TRUE(fs::exists(alive.path()));
    EXPECT_FALSE(fs::exists(temp.path / "vistrel-record-dead01"));
    EXPECT_FALSE(fs::exists(temp.path / "vistrel-record-dead02"));
    EXPECT_TRUE(fs::exists(temp.path / "other-folder"));
}
}  // namespace
