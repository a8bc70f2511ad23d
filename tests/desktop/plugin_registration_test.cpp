// reregister_plugin_dll with the workstation's real regsvr32 and the bench's
// plug-in at C:/nivra/dererarizoduz.dll.
#include "common/bench_files.h"
#include "desktop/desktop_chores.h"
#include "support/agent_log.h"
#include "support/timing_for_tests.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

namespace {

using Entries = std::vector<std::string>;

const char plugin[] = "C:\\nivra\\dererarizoduz.dll";
const char record[] = "C:\\bench\\plugin-record.txt";

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

// The chore only launches the tool; it never looks for the DLL itself.
TEST_F(PluginRegistration, MissingDllStillCountsAsLaunched)
{
    DeleteFileA(plugin);
    reregister_plugin_dll();
    EXPECT_EQ((Entries{"[  INFO   ]: plugin dll unregistered successful", "[  INFO   ]: plugin dll registered successful"}),
              agent_log::entries());
}

TEST_F(PluginRegistration, ToolMissingFromItsPathIsOneErrorAndNoPause)
{
    const char tool[] = "C:\\windows\\system32\\regsvr32.exe";
    const char hidden[] = "C:\\windows\\system32\\regsvr32.exe.hidden-by-test";
    ASSERT_TRUE(MoveFileA(tool, hidden));
    reregister_plugin_dll();
    MoveFileA(hidden, tool);
    EXPECT_EQ((Entries{"[  ERROR  ]: error unregister plugin dll"}), agent_log::entries());
    EXPECT_TRUE(test_timing::requested.empty());
}

}  // namespace
