#include "screen/restore_token.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

namespace {
namespace fs = std::filesystem;

class RestoreToken : public ::testing::Test {
protected:
    void SetUp() override {
        folder = fs::temp_directory_path() / ("vistrel-token-test-" + std::to_string(getpid()));
        fs::remove_all(folder);
        file = folder / "vistrel" / restore_token_file_name;
    }
    void TearDown() override { fs::remove_all(folder); }
    fs::path folder, file;
};

TEST_F(RestoreToken, IsKeptForThisUserOnlyAndReplacedByTheNextOne) {
    EXPECT_EQ(load_restore_token(file), "");
    ASSERT_TRUE(save_restore_token(file, "4e0b2b7c-1f9e-4d1a-9a57-0d1f3c2e8b11"));
    EXPECT_EQ(load_restore_token(file), "4e0b2b7c-1f9e-4d1a-9a57-0d1f3c2e8b11");
    struct stat info {};
    ASSERT_EQ(stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    ASSERT_TRUE(save_restore_token(file, "second"));
    EXPECT_EQ(load_restore_token(file), "second");
    ASSERT_TRUE(save_restore_token(file, ""));
    EXPECT_FALSE(fs::exists(file));
}

TEST_F(RestoreToken, AFileThatHoldsNoTokenGivesNone) {
    fs::create_directories(file.parent_path());
    for (const std::string& text : {std::string("two words\n"), std::string("\x01\x02"), std::string(2000, 'a')}) {
        std::ofstream(file, std::ios::binary) << text;
        EXPECT_EQ(load_restore_token(file), "") << text.substr(0, 20);
    }
}

TEST_F(RestoreToken, AFolderThatCannotBeWrittenIsReportedNotThrown) {
    fs::create_directories(folder);
    std::ofstream(folder / "vistrel") << "a file where the folder should be";
    EXPECT_FALSE(save_restore_token(file, "token"));
}
}  // namespace
