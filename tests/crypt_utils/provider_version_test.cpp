// crypt_utils::get_provider_version against the stand-in provider.
#include "crypt_utils/call_trace.h"
#include "crypt_utils/provider_version.h"
#include "support/agent_log.h"
#include "support/bench_provider.h"

#include "trace_lines.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <windows.h>

#include <string>
#include <vector>

using namespace keyhaven;

namespace {

using ::testing::ElementsAre;

const std::string debug = "[  DEBUG  ]: ";

// The ERROR line of a failing call; the source line number shows as N.
std::string error_line(const std::string& call, const char* code)
{
    return "[  ERROR  ]: " + call + " error, code: " + code + ", line: N, func: crypt_utils::get_provider_version";
}

class ProviderVersion : public ::testing::Test {
protected:
    void SetUp() override
    {
        bench_provider::clear();
        agent_log::clear();
    }
    void TearDown() override { EXPECT_EQ(0, bench_provider::open_contexts()); }

    std::string product = "unchanged product";
    std::string kernel = "unchanged kernel";
};

TEST_F(ProviderVersion, RendersTheWordAndTheRecord)
{
    bench_provider::set_version(0x405, 1234, 5678, 1, 0, 0);
    EXPECT_EQ(0, crypt_utils::get_provider_version(product, kernel));
    EXPECT_EQ("4.5.1234|VER_OS_WINDOWS|VER_ARCH_IA32|VER_TYPE_RELEASE", product);
    EXPECT_EQ("4.5.5678", kernel);
    EXPECT_THAT(trace_lines::entries(),
                ElementsAre(debug + "----> calling get_provider_version()", debug + "clean up:", debug + "\t- prov",
                            debug + "\t- version_buffer",
                            debug + "<--- closing get_provider_version(), rc=0|0x00000000"));
}

TEST_F(ProviderVersion, BitsAboveFifteenAndOutOfTableIndices)
{
    bench_provider::set_version(0xABCD0C00, 4294967295ul, 0, 2, 8, 5);
    EXPECT_EQ(0, crypt_utils::get_provider_version(product, kernel));
    EXPECT_EQ("12.0.4294967295|5|8|2", product);
    EXPECT_EQ("12.0.0", kernel);
}

TEST_F(ProviderVersion, ProviderWithoutParameter138KeepsTheOutputs)
{
    bench_provider::drop_version_ex();
    EXPECT_EQ(static_cast<int>(NTE_BAD_TYPE), crypt_utils::get_provider_version(product, kernel));
    EXPECT_EQ("unchanged product", product);
    EXPECT_EQ("unchanged kernel", kernel);
    EXPECT_THAT(trace_lines::entries(),
                ElementsAre(debug + "----> calling get_provider_version()",
                            error_line("CryptDecodeObject(PP_VERSION_EX, size)", "0x8009000A"),
                            debug + "clean up:", debug + "\t- prov",
                            debug + "<--- closing get_provider_version(), rc=-2146893814|0x8009000A"));
}

TEST_F(ProviderVersion, FailingVersionWordOrProvider)
{
    bench_provider::fail("version", static_cast<unsigned long>(NTE_FAIL));
    EXPECT_EQ(static_cast<int>(NTE_FAIL), crypt_utils::get_provider_version(product, kernel));
    bench_provider::fail("acquire", static_cast<unsigned long>(NTE_FAIL));
    EXPECT_EQ(static_cast<int>(NTE_FAIL), crypt_utils::get_provider_version(product, kernel));
    bench_provider::fail_without_code("acquire");
    EXPECT_EQ(crypt_utils::rc_failed_without_code, crypt_utils::get_provider_version(product, kernel));
    EXPECT_EQ("unchanged product", product);
    EXPECT_THAT(trace_lines::entries(true),
                ElementsAre(error_line("CryptGetProvParam(PP_VERSION)", "0x80090020"),
                            error_line("CryptAcquireContext(default, CRYPT_VERIFYCONTEXT)", "0x80090020"),
                            error_line("CryptAcquireContext(default, CRYPT_VERIFYCONTEXT)", "0x00000000")));
}

}  // namespace
