// copy_viewer_preferences against the workstation's real profile folders.
#include "desktop/viewer_preferences.h"
#include "support/agent_log.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <shlobj.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

using namespace keyhaven;

namespace {

using Entries = std::vector<std::string>;

std::string app_data()
{
    char path[MAX_PATH] = {};
    SHGetFolderPathA(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, path);
    return path;
}

std::string read(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

void write(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

bool exists(const std::string& path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void remove_tree(const std::string& path)
{
    std::string from = path + std::string(1, '\0');  // double NUL terminated
    SHFILEOPSTRUCTA op = {};
    op.wFunc = FO_DELETE;
    op.pFrom = from.c_str();
    op.fFlags = FOF_NOCONFIRMATION | FOF_NOERRORUI | FOF_SILENT;
    SHFileOperationA(&op);
}

class ViewerPreferences : public ::testing::Test {
protected:
    void SetUp() override
    {
        agent_log::clear();
        remove_tree(viewer);
        DeleteFileA(source.c_str());
        SetEnvironmentVariableA("ALLUSERSPROFILE", "C:\\ProgramData");
    }
    void TearDown() override
    {
        SetEnvironmentVariableA("ALLUSERSPROFILE", "C:\\ProgramData");
        DeleteFileA(source.c_str());
        remove_tree(viewer);
    }
    void place_source(const std::string& text)
    {
        SHCreateDirectoryExA(nullptr, "C:\\ProgramData\\Nivra\\Prefs", nullptr);
        write(source, text);
    }

    const std::string source = "C:\\ProgramData\\Nivra\\Prefs\\prefs.config";
    const std::string viewer = app_data() + "\\PureEdge";
    const std::string folder = viewer + "\\Viewer 7.5\\prefs";
    const std::string copy = folder + "\\prefs.config";
};

TEST_F(ViewerPreferences, MissingSourceCreatesNothing)
{
    copy_viewer_preferences();
    EXPECT_EQ((Entries{"[  ERROR  ]: preferences file not exist"}), agent_log::entries());
    EXPECT_FALSE(exists(viewer));
}

TEST_F(ViewerPreferences, SourceIsCopiedWithTheFoldersItNeeds)
{
    place_source("first\r\n");
    copy_viewer_preferences();
    EXPECT_EQ((Entries{"[  INFO   ]: preferences copied successful"}), agent_log::entries());
    EXPECT_EQ("first\r\n", read(copy));
}

TEST_F(ViewerPreferences, ExistingCopyIsReplaced)
{
    place_source("new");
    SHCreateDirectoryExA(nullptr, folder.c_str(), nullptr);
    write(copy, "old and longer");
    copy_viewer_preferences();
    EXPECT_EQ((Entries{"[  INFO   ]: preferences copied successful"}), agent_log::entries());
    EXPECT_EQ("new", read(copy));
}

TEST_F(ViewerPreferences, CopyThatCannotBeReplacedIsKeptWithAWarning)
{
    place_source("new");
    SHCreateDirectoryExA(nullptr, folder.c_str(), nullptr);
    write(copy, "old");
    HANDLE held = CreateFileA(copy.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, held);
    copy_viewer_preferences();
    CloseHandle(held);
    EXPECT_EQ((Entries{"[ WARNING ]: failed to copy preferences file or file already exists"}), agent_log::entries());
    EXPECT_EQ("old", read(copy));
}

// An expansion that does not fit the 260-character buffer leaves no path in
// it; the chore must stop as for a failed expansion.
TEST_F(ViewerPreferences, AllUsersPathTooLongForItsBufferIsAFailedExpansion)
{
    place_source("new");
    std::string long_profile = "C:\\" + std::string(300, 'p');
    SetEnvironmentVariableA("ALLUSERSPROFILE", long_profile.c_str());
    copy_viewer_preferences();
    EXPECT_EQ((Entries{"[  ERROR  ]: error obtain [ALL USERS] variable"}), agent_log::entries());
    EXPECT_FALSE(exists(viewer));
}

TEST_F(ViewerPreferences, AllUsersPathThatJustFitsIsUsed)
{
    // 259 characters and the terminator fill the buffer exactly.
    std::string profile = "C:\\ProgramData\\" + std::string(259 - 15, 'q');
    ASSERT_EQ(259u, profile.size());
    SetEnvironmentVariableA("ALLUSERSPROFILE", profile.c_str());
    copy_viewer_preferences();
    // The source path is then too long to open: the expansion itself was accepted.
    EXPECT_EQ((Entries{"[  ERROR  ]: preferences file not exist"}), agent_log::entries());
}

}  // namespace
