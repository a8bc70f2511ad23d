// The provider version strings and the registry-container rule: plain logic.
#include "crypt_utils/container_rules.h"
#include "crypt_utils/version_text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

using namespace keyhaven;

namespace {

using crypt_utils::ProviderVersionEx;

TEST(VersionText, ProductAndKernelStrings)
{
    const ProviderVersionEx ex{1234, 5678, 1, 0, 0};
    EXPECT_EQ("4.5.1234|VER_OS_WINDOWS|VER_ARCH_IA32|VER_TYPE_RELEASE", crypt_utils::product_version_text(0x405, ex));
    EXPECT_EQ("4.5.5678", crypt_utils::kernel_version_text(0x405, ex));
    EXPECT_EQ("0.0.0|VER_OS_AIX|VER_ARCH_PPC64|VER_TYPE_DEBUG",
              crypt_utils::product_version_text(0, ProviderVersionEx{0, 0, 0, 7, 4}));
    EXPECT_EQ("255.255.4294967295", crypt_utils::kernel_version_text(0xFFFF, ProviderVersionEx{0, 4294967295u, 0, 0, 0}));
}

TEST(VersionText, OnlyBitsZeroToFifteenOfTheWordCount)
{
    const ProviderVersionEx ex{1, 2, 0, 0, 0};
    EXPECT_EQ(crypt_utils::kernel_version_text(0x0305, ex), crypt_utils::kernel_version_text(0xFFFF0305u, ex));
    EXPECT_EQ("3.5.2", crypt_utils::kernel_version_text(0x80000305u, ex));
}

TEST(VersionText, EveryTableEntryAndTheFirstIndexPastEachTable)
{
    const char* os[] = {"VER_OS_WINDOWS", "VER_OS_SOLARIS", "VER_OS_FREEBSD", "VER_OS_LINUX", "VER_OS_AIX"};
    const char* arch[] = {"VER_ARCH_IA32",  "VER_ARCH_IA64", "VER_ARCH_SPARC32", "VER_ARCH_SPARC64",
                          "VER_ARCH_AMD64", "VER_ARCH_ARM",  "VER_ARCH_PPC32",   "VER_ARCH_PPC64"};
    for (std::uint32_t i = 0; i < 5; ++i)
        EXPECT_EQ(os[i], crypt_utils::os_family_name(i));
    for (std::uint32_t i = 0; i < 8; ++i)
        EXPECT_EQ(arch[i], crypt_utils::architecture_name(i));
    EXPECT_EQ("VER_TYPE_DEBUG", crypt_utils::build_type_name(0));
    EXPECT_EQ("VER_TYPE_RELEASE", crypt_utils::build_type_name(1));

    EXPECT_EQ("2", crypt_utils::build_type_name(2));
    EXPECT_EQ("8", crypt_utils::architecture_name(8));
    EXPECT_EQ("5", crypt_utils::os_family_name(5));
    EXPECT_EQ("4294967295", crypt_utils::os_family_name(0xFFFFFFFFu));
}

TEST(VersionText, RecordValuesAreReadWithinTheRecordOnly)
{
    const std::uint32_t values[6] = {1234, 5678, 1, 4, 3, 99};
    unsigned char record[sizeof values];
    std::memcpy(record, values, sizeof values);

    ProviderVersionEx ex = crypt_utils::read_version_ex(record, sizeof record);
    EXPECT_EQ(1234u, ex.product_build);
    EXPECT_EQ(5678u, ex.kernel_build);
    EXPECT_EQ(1u, ex.build_type);
    EXPECT_EQ(4u, ex.architecture);
    EXPECT_EQ(3u, ex.os_family);

    // Nine bytes hold two whole values; the rest read as 0.
    ex = crypt_utils::read_version_ex(record, 9);
    EXPECT_EQ(1234u, ex.product_build);
    EXPECT_EQ(5678u, ex.kernel_build);
    EXPECT_EQ(0u, ex.build_type);
    EXPECT_EQ(0u, ex.os_family);
    ex = crypt_utils::read_version_ex(nullptr, 0);
    EXPECT_EQ(0u, ex.product_build);
}

TEST(ContainerRules, RegistryMeansTheUpperCaseWordAnywhere)
{
    EXPECT_TRUE(crypt_utils::is_registry_container("\\\\.\\REGISTRY\\name"));
    EXPECT_TRUE(crypt_utils::is_registry_container("REGISTRY"));
    EXPECT_TRUE(crypt_utils::is_registry_container("name REGISTRY"));
    EXPECT_TRUE(crypt_utils::is_registry_container("xREGISTRYx"));
    EXPECT_FALSE(crypt_utils::is_registry_container("\\\\.\\registry\\name"));
    EXPECT_FALSE(crypt_utils::is_registry_container("Registry"));
    EXPECT_FALSE(crypt_utils::is_registry_container("REGISTR Y"));
    EXPECT_FALSE(crypt_utils::is_registry_container(""));
}

}  // namespace
