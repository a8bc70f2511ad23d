// The package's actions in c:\nivra, in-process on the workstation's own
// folder: what they hold and verify before they write as SYSTEM.
#include "platform/data_directory.h"
#include "setup/data_folder.h"
#include "setup/day_files.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>

using namespace keyhaven;

namespace {

// Under Wine the folder is the running account's, which the package's
// actions accept as the installing account's.
TEST(PackageDataFolder, TheWorkstationsFolderIsHeldAndAFileInItsPlaceIsNot)
{
    ASSERT_FALSE(data_directory().empty());
    FileHandle folder;
    std::string reason;
    bool real_folder = false;
    EXPECT_TRUE(hold_verified_folder(folder, reason, &real_folder)) << reason;
    EXPECT_TRUE(folder.held());
    folder.free_now();

    const char* moved = "c:\\nivra-moved-by-test";
    ASSERT_TRUE(MoveFileA(package_names::data_folder, moved));
    FileHandle file(CreateFileA(package_names::data_folder, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    file.free_now();
    real_folder = false;
    const bool held = hold_verified_folder(folder, reason, &real_folder);
    folder.free_now();
    DeleteFileA(package_names::data_folder);
    MoveFileA(moved, package_names::data_folder);
    EXPECT_FALSE(held);
    EXPECT_FALSE(real_folder);
    EXPECT_EQ("it is a file, not a folder", reason);
}

TEST(PackageDataFolder, NamesSetAsideCannotBeForeseen)
{
    std::string first, second;
    ASSERT_TRUE(random_suffix(first));
    ASSERT_TRUE(random_suffix(second));
    EXPECT_EQ(16u, first.size());
    EXPECT_EQ(std::string::npos, first.find_first_not_of("0123456789abcdef"));
    EXPECT_NE(first, second);
}

TEST(PackageDataFolder, TodaysAndYesterdaysDayFilesAreTheOnesCarried)
{
    const auto names = recent_day_files();
    ASSERT_EQ(4u, names.size());
    for (const auto& name : names)
        EXPECT_TRUE(is_day_file(name)) << name;
    EXPECT_NE(names[0], names[2]);
}

}  // namespace
