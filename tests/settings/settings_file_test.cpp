// read_settings with the real file in c:\nivra.
#include "platform/bounded_open.h"
#include "settings/settings.h"
#include "support/agent_log.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <fstream>
#include <string>

using namespace keyhaven;

namespace {

class ReadSettings : public ::testing::Test {
protected:
    void SetUp() override
    {
        agent_log::clear();
        DeleteFileA(path);
    }
    void TearDown() override { DeleteFileA(path); }

    void write(const std::string& text)
    {
        std::ofstream file(path, std::ios::binary);
        file << text;
    }

    // The status as the log writes it; the values land in settings.
    int read(unsigned long reminder_ms = failure_reminder_ms)
    {
        return static_cast<int>(read_settings("Keyhaven.ini", settings, reminder_ms));
    }

    const char* path = "c:\\nivra\\Keyhaven.ini";
    Settings settings;
};

TEST_F(ReadSettings, MissingFileIs301AndChangesNothingSilently)
{
    EXPECT_EQ(301, read());
    EXPECT_EQ(1, settings.clean_storage);
    EXPECT_TRUE(agent_log::entries().empty());
}

TEST_F(ReadSettings, FileInTheDataFolderIsReadAndApplied)
{
    write("[properties]\r\nclean_storage = 0\r\nmark_default = 1\r\n");
    EXPECT_EQ(300, read());
    EXPECT_EQ(0, settings.clean_storage);
    EXPECT_EQ(1, settings.mark_default);
    EXPECT_EQ(0, read());
    EXPECT_TRUE(agent_log::entries().empty());
}

TEST_F(ReadSettings, BrokenFileLogsTheExceptionFollowedByAnEmptyLine)
{
    write("[properties]\r\nclean_storage = yes\r\n");
    EXPECT_EQ(302, read());
    EXPECT_EQ(1, settings.clean_storage);
    EXPECT_EQ((std::vector<std::string>{
                  "[  ERROR  ]: settings file exception: the argument ('yes') for option "
                  "'properties.clean_storage' is invalid",
                  ""}),
              agent_log::entries(true));
}

// Read on every turn, a file that stays broken is logged once a period, and
// once more when it is fixed.
TEST_F(ReadSettings, BrokenFileIsLoggedOncePerPeriodAndWhenItEnds)
{
    write("; a comment\r\n");
    for (int turn = 0; turn < 10; ++turn)
        EXPECT_EQ(302, read());
    EXPECT_EQ(302, read(0));  // a period has gone by
    write("[properties]\r\n");
    EXPECT_EQ(0, read());
    const std::string exception =
        "[  ERROR  ]: settings file exception: the options configuration file contains an invalid line '; a comment'";
    EXPECT_EQ((std::vector<std::string>{exception, "", exception, "", "[  INFO   ]: settings file failure has ended (code=0)"}),
              agent_log::entries());
}

// The agent only reads; a writer holding the file must not stop the read.
TEST_F(ReadSettings, FileOpenForWritingByAnotherProgramIsStillRead)
{
    write("[properties]\r\nignore_cards = 1\r\n");
    HANDLE writer = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, writer);
    EXPECT_EQ(300, read());
    CloseHandle(writer);
    EXPECT_EQ(1, settings.ignore_cards);
}

// A user may read the file and so hold it, without sharing or under an
// opportunistic lock whose break is never acknowledged (Wine has none: the
// open reports it). The read gives up within the bound: cannot be read.
HANDLE break_never_acknowledged(const bounded_open::Request& request, DWORD& error)
{
    if (request.path != "c:\\nivra\\Keyhaven.ini")
        return bounded_open::attempt_without_waiting(request, error);
    error = bounded_open::oplock_break_error;
    return nullptr;
}

TEST_F(ReadSettings, FileAnotherProgramHoldsIsNotReadableAndTheTurnGoesOn)
{
    write("[properties]\r\nclean_storage = 0\r\n");
    HANDLE holder = CreateFileA(path, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, holder);
    EXPECT_EQ(304, read());
    CloseHandle(holder);
    const bounded_open::Attempt real = bounded_open::replace_attempt(break_never_acknowledged);
    const int held = read();
    bounded_open::replace_attempt(real);
    EXPECT_EQ(304, held);
    EXPECT_EQ(1, settings.clean_storage);
    EXPECT_EQ((std::vector<std::string>{
                  "[ WARNING ]: settings file c:\\nivra\\Keyhaven.ini is not taken: another program holds it "
                  "(error 0x00000020)",
                  "[ WARNING ]: settings file c:\\nivra\\Keyhaven.ini is not taken: another program holds it "
                  "(error 0x000002E6)"}),
              agent_log::entries(true));
    EXPECT_EQ(300, read());
}

// UTF-16 (what PowerShell 5.1's Out-File writes) is read as the ANSI code
// page's text: 1251 on the bench.
TEST_F(ReadSettings, Utf16FileIsReadAsTheAnsiText)
{
    const std::u16string text = u"\uFEFF[properties]\r\n\u043A = 1\r\n";
    write(std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2));
    std::string reason;
    EXPECT_EQ(302, static_cast<int>(load_settings_file(path, settings, reason)));
    EXPECT_EQ("unrecognised option 'properties.\xEA'", reason);
}

// Anyone may add a second name to a file in c:\nivra; the file read must be
// the administrator's own.
TEST_F(ReadSettings, HardLinkedFileIsNotTakenAndWarnedOnce)
{
    write("[properties]\r\nclean_storage = 0\r\n");
    const char other[] = "c:\\nivra\\other-name.ini";
    DeleteFileA(other);
    ASSERT_TRUE(CreateHardLinkA(other, path, nullptr));
    EXPECT_EQ(303, read());
    EXPECT_EQ(303, read());
    DeleteFileA(other);
    EXPECT_EQ(1, settings.clean_storage);
    EXPECT_EQ((std::vector<std::string>{"[ WARNING ]: settings file c:\\nivra\\Keyhaven.ini is not taken: it is a "
                                        "link to another file"}),
              agent_log::entries());
    EXPECT_EQ(300, read());
}

}  // namespace
