// reregister_plugin_dll with the workstation's real regsvr32 and the bench's
// plug-in at C:/nivra/dererarizoduz.dll.
#include "common/bench_files.h"
#include "desktop/plugin_registration.h"
#include "platform/file_security.h"
#include "support/agent_log.h"
#include "support/timing_for_tests.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <sddl.h>

#include <cstring>
#include <string>
#include <vector>

using namespace keyhaven;

namespace {

using Entries = std::vector<std::string>;

const char plugin[] = "C:\\nivra\\dererarizoduz.dll";
const char record[] = "C:\\bench\\plugin-record.txt";

// The trust rule over a descriptor as Windows hands it over; false for one
// that cannot be read.
bool descriptor_lets_only_trusted_change(PSECURITY_DESCRIPTOR descriptor, const std::string& me,
                                         unsigned long changing = file_trust::changing_rights)
{
    file_trust::FileSecurity security;
    return security_of_descriptor(descriptor, security) &&
           file_trust::only_trusted_can_change(security, me, changing);
}

std::vector<std::string> recorded_calls()
{
    std::vector<std::string> calls;
    for (const auto& line : bench::read_lines(record))
        calls.push_back(line.substr(0, line.find(' ')));
    return calls;
}

bool wait_for_calls(size_t count)
{
    for (int i = 0; i < 200 && recorded_calls().size() < count; ++i)
        Sleep(50);
    return recorded_calls().size() >= count;
}

class PluginRegistration : public ::testing::Test {
protected:
    void SetUp() override
    {
        agent_log::clear();
        DeleteFileA(record);
        test_timing::reset();
        // The pause is the only order between the two tool runs: give the
        // first one time to finish even with the shortened pause.
        test_timing::divisor = 4;
    }
    void TearDown() override
    {
        DeleteFileA(plugin);
        test_timing::reset();
    }
};

TEST_F(PluginRegistration, UnregistersPausesFourSecondsAndRegisters)
{
    CreateDirectoryA("C:\\nivra", nullptr);
    ASSERT_TRUE(CopyFileA("C:\\bench\\bin\\bench_plugin.dll", plugin, FALSE));
    reregister_plugin_dll();
    EXPECT_EQ((Entries{"[  INFO   ]: plugin dll unregistered successful", "[  INFO   ]: plugin dll registered successful"}),
              agent_log::entries());
    EXPECT_EQ((std::vector<unsigned long>{4000}), test_timing::requested);
    ASSERT_TRUE(wait_for_calls(2));
    EXPECT_EQ((std::vector<std::string>{"unregister", "register"}), recorded_calls());
}

// A missing plug-in has no security to read: anyone who may create files in
// the folder could put one there before regsvr32 loads it.
TEST_F(PluginRegistration, MissingDllIsNotRegistered)
{
    DeleteFileA(plugin);
    reregister_plugin_dll();
    EXPECT_EQ((Entries{"[ WARNING ]: plugin dll C:/nivra/dererarizoduz.dll: its security cannot be read (error "
                       "0x00000002), it may be changed by other users of this computer, not registered"}),
              agent_log::entries());
    EXPECT_TRUE(test_timing::requested.empty());
}

TEST(PluginSecurity, OnlyAFileNoOtherUserCanChangeIsRegistered)
{
    const std::string me = current_user_sid();
    ASSERT_EQ(0u, me.rfind("S-1-5-", 0)) << me;
    const struct {
        std::string sddl;
        bool registered;
    } cases[] = {
        {"O:BAD:(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1200ad;;;BU)", true},  // users read, run and append
        {"O:" + me + "D:(A;;FA;;;SY)(A;;FA;;;" + me + ")(A;;0x1200a9;;;WD)", true},  // the user's own
        {"O:S-1-5-21-1-2-3-1001D:(A;;FA;;;SY)(A;;0x1200a9;;;BU)", false},            // another user's
        {"O:BAD:(A;;FA;;;BA)(A;;0x1301bf;;;WD)", false},                             // Everyone writes
        {"O:BAD:(A;;FA;;;BA)(A;;0x10000;;;AU)", false},                              // Authenticated Users delete
        {"O:BAD:(A;;FA;;;BA)(A;;WD;;;BU)", false},                                   // users re-permission it
        {"O:BAD:(D;;0x10002;;;WD)(A;;FA;;;BA)(A;;0x1301bf;;;BU)", true},             // what Everyone is denied first
        {"O:BAD:(A;OICIIO;FA;;;BU)(A;;FA;;;BA)", true},                              // for the folder's children only
        {"O:BA", false},                                                             // no DACL: open to everyone
    };
    for (const auto& c : cases) {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(c.sddl.c_str(), SDDL_REVISION_1, &descriptor,
                                                                         nullptr)) << c.sddl;
        EXPECT_EQ(c.registered, descriptor_lets_only_trusted_change(descriptor, me)) << c.sddl;
        LocalFree(descriptor);
    }
    BYTE unreadable[64];
    std::memset(unreadable, 0xA5, sizeof unreadable);
    EXPECT_FALSE(descriptor_lets_only_trusted_change(unreadable, me));
    EXPECT_FALSE(descriptor_lets_only_trusted_change(nullptr, me));
}

// The plug-in's folder: whoever may add a file there plants the libraries
// regsvr32 loads with it. Entries for the files only (OIIO) do not count.
TEST(PluginSecurity, OnlyAFolderNoOtherUserCanAddToHoldsAPlugin)
{
    const std::string me = current_user_sid();
    const std::string admins = "O:BAG:SYD:PAI(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
    const struct {
        std::string sddl;
        bool trusted;
    } cases[] = {
        {admins + "(A;;0x1200ab;;;BU)(A;OIIO;0x1200ad;;;BU)", false},           // the package's: users add files
        {admins + "(A;;0x1200a9;;;BU)(A;;0x1200ab;;;" + me + ")(A;OIIO;0x1200ad;;;BU)", true},  // one writer
        {admins + "(A;;0x1200a9;;;BU)(A;;0x1200ab;;;S-1-5-21-1-2-3-513)", false},  // a group that writes
        {admins + "(A;;0x1200e9;;;BU)", false},  // users delete what it holds
    };
    for (const auto& c : cases) {
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(c.sddl.c_str(), SDDL_REVISION_1, &descriptor,
                                                                         nullptr)) << c.sddl;
        EXPECT_EQ(c.trusted, descriptor_lets_only_trusted_change(descriptor, me, file_trust::folder_changing_rights))
            << c.sddl;
        LocalFree(descriptor);
    }
}

TEST_F(PluginRegistration, ToolMissingFromItsPathIsOneErrorAndNoPause)
{
    CreateDirectoryA("C:\\nivra", nullptr);
    ASSERT_TRUE(CopyFileA("C:\\bench\\bin\\bench_plugin.dll", plugin, FALSE));
    const char tool[] = "C:\\windows\\system32\\regsvr32.exe";
    const char hidden[] = "C:\\windows\\system32\\regsvr32.exe.hidden-by-test";
    ASSERT_TRUE(MoveFileA(tool, hidden));
    reregister_plugin_dll();
    MoveFileA(hidden, tool);
    EXPECT_EQ((Entries{"[  ERROR  ]: error unregister plugin dll"}), agent_log::entries());
    EXPECT_TRUE(test_timing::requested.empty());
}

}  // namespace
