// log_write and data_directory against the real c:\nivra of the workstation.
#include "diag/append_file.h"
#include "diag/log.h"
#include "support/agent_log.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <thread>
#include <vector>

namespace {

using Entries = std::vector<std::string>;

class Log : public ::testing::Test {
protected:
    void SetUp() override { agent_log::clear(); }
};

TEST_F(Log, DebugGoesToTheFullFileOnlyOtherLevelsToBoth)
{
    log_write(DEBUG, "d %d", 1);
    log_write(INFO, "i %s", "two");
    log_write(WARNING, "w");
    log_write(ERROR, "e 0x%08X", 0x103u);
    log_write(4, "four");
    log_write(77, "seventy-seven");

    EXPECT_EQ((Entries{"[  DEBUG  ]: d 1", "[  INFO   ]: i two", "[ WARNING ]: w", "[  ERROR  ]: e 0x00000103",
                       "[ DEFAULT ]: four", "[ DEFAULT ]: seventy-seven"}),
              agent_log::entries());
    EXPECT_EQ((Entries{"[  INFO   ]: i two", "[ WARNING ]: w", "[  ERROR  ]: e 0x00000103", "[ DEFAULT ]: four",
                       "[ DEFAULT ]: seventy-seven"}),
              agent_log::entries(true));
}

TEST_F(Log, LinesEndInCarriageReturnLineFeedOnDisk)
{
    log_write(INFO, "settings file exception: %s\n", "boom");
    std::string text = agent_log::read();
    ASSERT_GE(text.size(), 11u);
    EXPECT_EQ("[  INFO   ]: settings file exception: boom\r\n\r\n", text.substr(11));
    EXPECT_EQ(" > ", text.substr(8, 3));
}

TEST_F(Log, ArgumentsAreWrittenUnchanged)
{
    log_write(INFO, "container found: %s", "%s%n%d 100%");
    log_write(DEBUG, "%s", "\t- hProv");
    log_write(INFO, "%s", "");
    EXPECT_EQ((Entries{"[  INFO   ]: container found: %s%n%d 100%", "[  DEBUG  ]: \t- hProv", "[  INFO   ]: "}),
              agent_log::entries());
}

TEST_F(Log, OverlongMessageIsCutAndTheLineStaysWhole)
{
    std::string huge(5000, 'x');
    log_write(WARNING, "%s", huge.c_str());
    log_write(INFO, "after");
    Entries entries = agent_log::entries();
    ASSERT_EQ(2u, entries.size());
    EXPECT_EQ("[ WARNING ]: " + std::string(1008, 'x'), entries[0]);
    EXPECT_EQ("[  INFO   ]: after", entries[1]);
}

// Another agent writing to the same file holds its turn on its own handle.
struct OtherWritersTurn {
    explicit OtherWritersTurn(const std::string& path)
        : file(CreateFileA(path.c_str(), FILE_READ_DATA | FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr))
    {
        at.Offset = static_cast<DWORD>(append_turn_offset);
        at.OffsetHigh = static_cast<DWORD>(append_turn_offset >> 32);
        held = LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at) != FALSE;
    }
    ~OtherWritersTurn() { CloseHandle(file); }  // gives the turn back if held
    HANDLE file;
    OVERLAPPED at = {};
    bool held = false;
};

TEST_F(Log, ALineWaitsForAnotherWritersTurnAndIsNotLostToOneNeverGivenBack)
{
    log_write(INFO, "before");
    OtherWritersTurn other(agent_log::path(true));
    ASSERT_TRUE(other.held);

    std::thread writer([] { log_write(INFO, "waiting"); });
    Sleep(50);
    EXPECT_EQ(Entries{"[  INFO   ]: before"}, agent_log::entries(true));
    UnlockFileEx(other.file, 0, 1, 0, &other.at);
    writer.join();
    EXPECT_EQ((Entries{"[  INFO   ]: before", "[  INFO   ]: waiting"}), agent_log::entries(true));

    OtherWritersTurn stuck(agent_log::path(true));
    ASSERT_TRUE(stuck.held);
    log_write(INFO, "written anyway");
    EXPECT_EQ((Entries{"[  INFO   ]: before", "[  INFO   ]: waiting", "[  INFO   ]: written anyway"}),
              agent_log::entries(true));
}

TEST(DataDirectory, IsTheNivraFolderWithATrailingBackslash)
{
    EXPECT_EQ("c:\\nivra\\", data_directory());
    DWORD attributes = GetFileAttributesA("c:\\nivra");
    ASSERT_NE(INVALID_FILE_ATTRIBUTES, attributes);
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// CreateDirectoryA reports ERROR_ALREADY_EXISTS for a file as for a folder.
TEST(DataDirectory, AFileInThePlaceOfTheFolderIsNoDataFolder)
{
    agent_log::clear();
    const char* moved = "c:\\nivra-moved-by-test";
    ASSERT_TRUE(MoveFileA("c:\\nivra", moved));
    HANDLE file = CreateFileA("c:\\nivra", GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    CloseHandle(file);

    std::string directory = data_directory();

    DeleteFileA("c:\\nivra");
    MoveFileA(moved, "c:\\nivra");
    EXPECT_EQ("", directory);
}

}  // namespace
