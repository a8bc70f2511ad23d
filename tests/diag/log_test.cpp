// log_write and data_directory against the real c:\nivra of the workstation.
#include "platform/append_file.h"
#include "platform/bounded_open.h"
#include "platform/file_security.h"
#include "diag/log.h"
#include "platform/package_folder.h"
#include "support/agent_log.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <sddl.h>

#include <string>
#include <thread>
#include <vector>

using namespace keyhaven;

namespace {

using Entries = std::vector<std::string>;

class Log : public ::testing::Test {
protected:
    void SetUp() override { agent_log::clear(); }
};

TEST_F(Log, DebugGoesToTheFullFileOnlyOtherLevelsToBoth)
{
    log_write(LogLevel::debug, "d %d", 1);
    log_write(LogLevel::info, "i %s", "two");
    log_write(LogLevel::warning, "w");
    log_write(LogLevel::error, "e 0x%08X", 0x103u);
    log_write(static_cast<LogLevel>(4), "four");
    log_write(static_cast<LogLevel>(77), "seventy-seven");

    EXPECT_EQ((Entries{"[  DEBUG  ]: d 1", "[  INFO   ]: i two", "[ WARNING ]: w", "[  ERROR  ]: e 0x00000103",
                       "[ DEFAULT ]: four", "[ DEFAULT ]: seventy-seven"}),
              agent_log::entries());
    EXPECT_EQ((Entries{"[  INFO   ]: i two", "[ WARNING ]: w", "[  ERROR  ]: e 0x00000103", "[ DEFAULT ]: four",
                       "[ DEFAULT ]: seventy-seven"}),
              agent_log::entries(true));
}

TEST_F(Log, LinesEndInCarriageReturnLineFeedOnDisk)
{
    log_write(LogLevel::info, "settings file exception: %s\n", "boom");
    std::string text = agent_log::read();
    ASSERT_GE(text.size(), 11u);
    EXPECT_EQ("[  INFO   ]: settings file exception: boom\r\n\r\n", text.substr(11));
    EXPECT_EQ(" > ", text.substr(8, 3));
}

TEST_F(Log, ArgumentsAreWrittenUnchanged)
{
    log_write(LogLevel::info, "container found: %s", "%s%n%d 100%");
    log_write(LogLevel::debug, "%s", "\t- hProv");
    log_write(LogLevel::info, "%s", "");
    EXPECT_EQ((Entries{"[  INFO   ]: container found: %s%n%d 100%", "[  DEBUG  ]: \t- hProv", "[  INFO   ]: "}),
              agent_log::entries());
}

TEST_F(Log, OverlongMessageIsCutAndTheLineStaysWhole)
{
    std::string huge(5000, 'x');
    log_write(LogLevel::warning, "%s", huge.c_str());
    log_write(LogLevel::info, "after");
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
        at.Offset = static_cast<DWORD>(append_lock_offset);
        at.OffsetHigh = static_cast<DWORD>(append_lock_offset >> 32);
        held = LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at) != FALSE;
    }
    ~OtherWritersTurn() { CloseHandle(file); }  // gives the turn back if held
    HANDLE file;
    OVERLAPPED at = {};
    bool held = false;
};

// A line never waits long for a turn another process keeps: it is written
// without it, and after a few such lines the day's file is written without
// trying (bench/benchmark's units.log_turn_held shows the time).
TEST_F(Log, ATurnAnotherWriterKeepsLosesNoLine)
{
    log_write(LogLevel::info, "before");
    OtherWritersTurn stuck(agent_log::path(true));
    ASSERT_TRUE(stuck.held);
    Entries expected{"[  INFO   ]: before"};
    for (const char* line : {"one", "two", "three", "four", "five"}) {
        log_write(LogLevel::info, "%s", line);
        expected.push_back(std::string("[  INFO   ]: ") + line);
    }
    EXPECT_EQ(expected, agent_log::entries(true));
    UnlockFileEx(stuck.file, 0, 1, 0, &stuck.at);
    log_write(LogLevel::info, "after");
    expected.push_back("[  INFO   ]: after");
    EXPECT_EQ(expected, agent_log::entries(true));
}

// Another process holds the full log under an opportunistic lock whose break
// it never acknowledges (Wine has none, so the open reports it): the line is
// dropped from that file only, after attempts that pause at most the bound in
// all, and the next line tries once. The count of attempts is the proof: the
// pauses between them are counted against the bound as well as timed.
std::string held_path;
int held_attempts = 0;

HANDLE break_never_acknowledged(const bounded_open::Request& request, DWORD& error)
{
    if (request.path != held_path)
        return bounded_open::attempt_without_waiting(request, error);
    ++held_attempts;
    error = bounded_open::oplock_break_error;
    return nullptr;
}

TEST_F(Log, ALogFileAnotherProcessHoldsDropsItsLineAfterABoundedWait)
{
    log_write(LogLevel::info, "before");
    held_path = agent_log::path();
    held_attempts = 0;
    const bounded_open::Attempt real = bounded_open::replace_attempt(break_never_acknowledged);
    log_write(LogLevel::info, "held");
    const int first_line = held_attempts;
    log_write(LogLevel::info, "held again");
    bounded_open::replace_attempt(real);
    log_write(LogLevel::info, "after");

    EXPECT_GE(first_line, 1);
    EXPECT_LE(first_line, 1 + static_cast<int>(bounded_open::hold_budget_ms / bounded_open::hold_retry_ms));
    EXPECT_EQ(first_line + 1, held_attempts);
    EXPECT_EQ((Entries{"[  INFO   ]: before", "[  INFO   ]: after"}), agent_log::entries());
    EXPECT_EQ((Entries{"[  INFO   ]: before", "[  INFO   ]: held", "[  INFO   ]: held again", "[  INFO   ]: after"}),
              agent_log::entries(true));
}

// A program that opens the log sharing nothing stops no agent either.
TEST_F(Log, ALogFileOpenedWithoutSharingIsSkipped)
{
    log_write(LogLevel::info, "before");
    HANDLE holder = CreateFileA(agent_log::path(true).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, holder);
    log_write(LogLevel::info, "while held");
    CloseHandle(holder);
    log_write(LogLevel::info, "after");
    EXPECT_EQ((Entries{"[  INFO   ]: before", "[  INFO   ]: after"}), agent_log::entries(true));
    EXPECT_EQ((Entries{"[  INFO   ]: before", "[  INFO   ]: while held", "[  INFO   ]: after"}), agent_log::entries());
}

file_trust::FileSecurity security_from(const std::string& sddl)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    file_trust::FileSecurity security{};
    if (ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl.c_str(), SDDL_REVISION_1, &descriptor, nullptr)) {
        EXPECT_TRUE(security_of_descriptor(descriptor, security)) << sddl;
        LocalFree(descriptor);
    } else {
        ADD_FAILURE() << "not SDDL: " << sddl;
    }
    return security;
}

// Another user's agent makes the day's file as often as this one does; what
// matters is who may read its lines or re-permission it.
TEST(LogFileRule, AnExistingLogIsWrittenOnlyWhenNoOtherUserMayReadOrRepermissionIt)
{
    const std::string me = "S-1-5-21-1-2-3-1000";
    const std::string agents = "D:P(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x120084;;;BU)";
    const struct {
        std::string sddl;
        bool written;
    } cases[] = {
        {"O:S-1-5-21-1-2-3-1001" + agents + "(A;;0x120084;;;OW)", true},   // another user's agent made it
        {"O:S-1-5-21-1-2-3-1001" + agents + "(D;;WD;;;OW)", true},         // a deny entry caps the owner too
        {"O:" + me + agents, true},                                        // mine: I may re-permission it
        {"O:BA" + agents, true},
        {"O:S-1-5-21-1-2-3-1001" + agents, false},                         // its owner may re-permission it
        {"O:S-1-5-21-1-2-3-1001" + agents + "(A;;FA;;;OW)", false},        // and read it
        {"O:S-1-5-21-1-2-3-1001" + agents + "(A;;0x120084;;;OW)(A;;FR;;;S-1-5-21-1-2-3-1001)", false},
        {"O:BAD:P(A;;FA;;;SY)(A;;0x1200ad;;;BU)", false},                   // every user reads it
        {"O:BAD:P(A;;FA;;;SY)(A;;GR;;;WD)", false},
        {"O:BAD:P(D;;FR;;;WD)(A;;FA;;;SY)(A;;FR;;;WD)", true},              // unless Everyone is denied it first
        {"O:BAD:P(A;;FA;;;SY)(A;;0x10000;;;BU)", false},                    // or may delete it
        {"O:BA", false},                                                    // no DACL: open to everyone
        {"O:ANG:AND:(A;;FA;;;SY)(A;;FA;;;AN)(A;;0x1200a9;;;WD)", false},   // Wine: another Unix user's, mode 644
        {"O:" + me + "D:(A;;FA;;;SY)(A;;FA;;;" + me + ")(A;;0x1200a9;;;WD)", false},  // Wine: mine, mode 644
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.written, file_trust::log_file_keeps_lines_private(security_from(c.sddl), me)) << c.sddl;
}

// The package's c:\nivra, and what is not: the agent then keeps to the
// rules of a folder anyone may have prepared.
TEST(PackageFolder, ReadsAsThePackagesOnlyWhenNobodyButSystemAndAdministratorsMayChangeIt)
{
    const std::string me = "S-1-5-21-1-2-3-1000";
    const std::string admins = "G:SYD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
    const std::string users = "(A;;0x1200a9;;;BU)(A;OIIO;0x1200a9;;;BU)";
    const struct {
        std::string sddl;
        bool packages;
    } cases[] = {
        {"O:BA" + admins + users, true},
        {"O:SY" + admins + users, true},
        {"O:BA" + admins + users + "(A;;FA;;;OW)", true},                 // the owner is Administrators
        {"O:BA" + admins + "(A;OICIIO;FA;;;CO)" + users, true},           // what users' files would give them
        {"O:" + me + admins + users, false},                              // a user's folder
        {"O:BA" + admins + "(A;;0x1200ab;;;BU)(A;OIIO;0x1200a9;;;BU)", false},  // an older package: users add files
        {"O:BA" + admins + "(A;;0x1201a9;;;BU)", false},                  // users write its attributes
        {"O:BA" + admins + "(A;;0x1200e9;;;BU)", false},                  // users delete what it holds
        {"O:BA" + admins + "(A;;WD;;;AU)", false},                        // re-permission it
        {"O:BA" + admins + "(A;;FA;;;S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464)", false},
        {"O:BA", false},                                                  // no DACL: open to everyone
        {"O:" + me + "D:(A;;FA;;;SY)(A;;FA;;;" + me + ")(A;;0x1200a9;;;WD)", false},  // Wine: mine, mode 755
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.packages, file_trust::folder_is_packages(security_from(c.sddl))) << c.sddl;
    // The bench never reads as the package's: every folder is the running account's there.
    EXPECT_FALSE(data_folder_is_packages());
}

// What the package keeps when it finds c:\nivra, and what it takes over.
TEST(PackageFolder, IsKeptOnlyWhenOwnedByTheSystemOrTheInstallerAndNobodyElseMayChangeIt)
{
    const std::string installer = "S-1-5-21-1-2-3-1000";
    const struct {
        std::string sddl;
        bool kept;
    } cases[] = {
        {"O:BAG:SYD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;;0x1200a9;;;BU)", true},
        {"O:" + installer + "D:(A;;FA;;;SY)(A;;FA;;;" + installer + ")(A;;0x1200a9;;;WD)", true},  // Wine, 755
        {"O:ANG:AND:(A;;FA;;;SY)(A;;FA;;;AN)(A;;0x1200a9;;;WD)", false},  // Wine: another Unix user's
        {"O:" + installer + "D:(A;;FA;;;SY)(A;;FA;;;" + installer + ")(A;;0x1301ff;;;WD)", false},  // Wine, 777
        {"O:BAD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)(A;;0x1200ab;;;BU)", false},  // users add files
        {"O:BAD:PAI(A;OICI;FA;;;SY)(A;;0x100;;;BU)", false},                  // or write its attributes
        {"O:S-1-5-21-1-2-3-1001D:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)", false},  // another user's
        {"O:S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464D:(A;;FA;;;SY)", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.kept, file_trust::folder_fit_for_package(security_from(c.sddl), installer)) << c.sddl;
}

// Under the package only SYSTEM (and an administrator) makes files: an
// agent appends to no other day file, and a file of any other owner keeps
// the plug-in from being registered; TrustedInstaller services Windows.
TEST(PackageFolder, FilesThereAreTheSystemsOnly)
{
    const std::string trusted_installer = "S-1-5-80-956008885-3418522649-1831038044-1853292631-2271478464";
    for (const std::string owner : {"S-1-5-18", "S-1-5-32-544"}) {
        EXPECT_TRUE(file_trust::made_by_system(owner)) << owner;
        EXPECT_TRUE(file_trust::made_by_system_or_servicing(owner)) << owner;
    }
    EXPECT_FALSE(file_trust::made_by_system(trusted_installer));
    EXPECT_TRUE(file_trust::made_by_system_or_servicing(trusted_installer));
    for (const std::string owner : {"S-1-5-21-1-2-3-1000", "S-1-3-4", "S-1-5-7", ""}) {
        EXPECT_FALSE(file_trust::made_by_system(owner)) << owner;
        EXPECT_FALSE(file_trust::made_by_system_or_servicing(owner)) << owner;
    }
}

// The agent's own c:\nivra is a real folder there; a file in its place is not.
TEST(PackageFolder, AHeldFolderIsJudgedOnItsHandle)
{
    data_directory();
    FileHandle folder = open_folder_held(package_names::data_folder, READ_CONTROL | FILE_READ_ATTRIBUTES | SYNCHRONIZE);
    ASSERT_TRUE(folder.held());
    std::string reason;
    EXPECT_TRUE(is_real_folder_at(folder.get(), package_names::data_folder, reason)) << reason;
    // What a handle reached is named by its final path, whatever name it was opened by.
    std::string final_path;
    EXPECT_TRUE(final_path_is(folder.get(), package_names::data_folder, final_path)) << final_path;
    EXPECT_FALSE(final_path_is(folder.get(), "c:\\nivra-elsewhere", final_path));
    EXPECT_EQ(0, lstrcmpiA("\\\\?\\c:\\nivra", final_path.c_str())) << final_path;
    const char* file = "c:\\nivra\\not-a-folder.txt";
    FileHandle plain(CreateFileA(file, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    plain.free_now();
    FileHandle held = open_folder_held(file, READ_CONTROL | FILE_READ_ATTRIBUTES | SYNCHRONIZE);
    ASSERT_TRUE(held.held());
    EXPECT_FALSE(is_real_folder_at(held.get(), file, reason));
    EXPECT_EQ("it is a file, not a folder", reason);
    held.free_now();
    DeleteFileA(file);
}

TEST(DataDirectory, IsTheNivraFolderWithATrailingBackslash)
{
    EXPECT_EQ("c:\\nivra\\", data_directory());
    EXPECT_EQ("c:\\nivra\\", existing_data_directory());
    DWORD attributes = GetFileAttributesA("c:\\nivra");
    ASSERT_NE(INVALID_FILE_ATTRIBUTES, attributes);
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

// Wine stores no DACL: the folder's security is proved on its descriptor.
// Users, and its maker through OWNER RIGHTS, may add a file and nothing else
// that changes the folder; administrators and SYSTEM keep full control.
TEST(DataDirectory, AFolderTheAgentMakesLetsUsersAddFilesAndNothingMore)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(
        (std::string("O:S-1-5-21-1-2-3-1001") + data_folder_sddl).c_str(), SDDL_REVISION_1, &descriptor, nullptr));
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    ASSERT_TRUE(GetSecurityDescriptorControl(descriptor, &control, &revision));
    file_trust::FileSecurity security;
    EXPECT_TRUE(security_of_descriptor(descriptor, security));
    LocalFree(descriptor);
    EXPECT_TRUE(control & SE_DACL_PROTECTED);
    security.owner = "S-1-5-32-544";  // judged apart from the owner, whom the OWNER RIGHTS entry caps
    const std::string me = "S-1-5-21-1-2-3-1001";
    EXPECT_TRUE(file_trust::only_trusted_can_change(security, me, file_trust::folder_changing_rights & ~0x2UL));
    EXPECT_FALSE(file_trust::only_trusted_can_change(security, me, file_trust::folder_changing_rights));
    bool owner_capped = false;
    for (const auto& entry : security.dacl)
        owner_capped = owner_capped || (entry.sid == "S-1-3-4" && !(entry.mask & 0x000C0000UL));
    EXPECT_TRUE(owner_capped);
}

// CreateDirectoryA reports ERROR_ALREADY_EXISTS for a file as for a folder.
TEST(DataDirectory, AFileInThePlaceOfTheFolderIsNoDataFolder)
{
    agent_log::clear();
    const char* moved = "c:\\nivra-moved-by-test";
    ASSERT_TRUE(MoveFileA("c:\\nivra", moved));
    EXPECT_EQ("", existing_data_directory());  // and makes none
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA("c:\\nivra"));
    const bool free_place = !something_stands_at_data_directory();
    HANDLE file = CreateFileA("c:\\nivra", GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    CloseHandle(file);

    std::string directory = data_directory();
    std::string existing = existing_data_directory();
    const bool taken_place = something_stands_at_data_directory();

    DeleteFileA("c:\\nivra");
    MoveFileA(moved, "c:\\nivra");
    EXPECT_EQ("", directory);
    EXPECT_EQ("", existing);
    EXPECT_TRUE(free_place);
    EXPECT_TRUE(taken_place);
}

}  // namespace
