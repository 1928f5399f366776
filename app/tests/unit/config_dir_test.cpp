#include "sources/config_dir.h"

#include <gtest/gtest.h>

namespace {
TEST(ConfigDir, FollowsTheBaseDirectoryRules) {
    EXPECT_EQ(config_folder_from("/x/config", "/home/ann"), "/x/config/vistrel");
    EXPECT_EQ(config_folder_from(nullptr, "/home/ann"), "/home/ann/.config/vistrel");
    EXPECT_EQ(config_folder_from("", "/home/ann"), "/home/ann/.config/vistrel");
    // A relative XDG_CONFIG_HOME is to be ignored.
    EXPECT_EQ(config_folder_from("relative/dir", "/home/ann"), "/home/ann/.config/vistrel");
    // Without HOME the password database still names a home.
    EXPECT_EQ(config_folder_from(nullptr, nullptr).filename(), "vistrel");
}
}  // namespace
