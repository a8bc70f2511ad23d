#include "platform/text.h"
#include "diag/versions.h"
#include "support/agent_log.h"

#include <gtest/gtest.h>

#include <string>

using namespace keyhaven;

namespace {

TEST(OsVersion, IsWhatTheSystemReportsToThisProcess)
{
    // A default Wine prefix reports Windows 7 SP1.
    EXPECT_EQ("6.1.7601", get_os_version());
}

TEST(ModuleVersion, AnExecutableWithoutVersionResourceLeavesTheStringAlone)
{
    agent_log::clear();
    std::string out = "untouched";
    EXPECT_FALSE(get_module_version(out));
    EXPECT_EQ("untouched", out);

    auto entries = agent_log::entries();
    ASSERT_EQ(1u, entries.size());
    EXPECT_EQ(0u, entries[0].find("[  DEBUG  ]: GetFileVersionInfoSize() failed with error: 0x0000"));
    EXPECT_TRUE(agent_log::entries(true).empty());
}

TEST(FormatString, FormatsAndCutsAt2047Characters)
{
    EXPECT_EQ("1.0.2.1", format_string("%u.%u.%u.%u", 1u, 0u, 2u, 1u));
    EXPECT_EQ("65535.0.0.0", format_string("%u.%u.%u.%u", 65535u, 0u, 0u, 0u));
    std::string long_text(3000, 'a');
    EXPECT_EQ(std::string(2047, 'a'), format_string("%s", long_text.c_str()));
}

}  // namespace
