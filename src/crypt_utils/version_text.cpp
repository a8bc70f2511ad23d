#include "crypt_utils/version_text.h"

#include <cstdio>
#include <cstring>

namespace keyhaven {

namespace crypt_utils {

namespace {

const char* const build_type_names[] = {"VER_TYPE_DEBUG", "VER_TYPE_RELEASE"};
const char* const architecture_names[] = {"VER_ARCH_IA32",    "VER_ARCH_IA64", "VER_ARCH_SPARC32", "VER_ARCH_SPARC64",
                                          "VER_ARCH_AMD64",   "VER_ARCH_ARM",  "VER_ARCH_PPC32",   "VER_ARCH_PPC64"};
const char* const os_family_names[] = {"VER_OS_WINDOWS", "VER_OS_SOLARIS", "VER_OS_FREEBSD", "VER_OS_LINUX",
                                       "VER_OS_AIX"};

template <std::size_t Count>
std::string name_in(const char* const (&table)[Count], std::uint32_t index)
{
    return index < Count ? table[index] : std::to_string(index);
}

int major_of(std::uint32_t word)
{
    return static_cast<int>((word >> 8) & 0xFF);
}

int minor_of(std::uint32_t word)
{
    return static_cast<int>(word & 0xFF);
}

std::string version_text(std::uint32_t word, std::uint32_t build)
{
    char text[64];
    std::snprintf(text, sizeof text, "%d.%d.%lu", major_of(word), minor_of(word), static_cast<unsigned long>(build));
    return text;
}

}  // namespace

ProviderVersionEx read_version_ex(const unsigned char* record, std::size_t size)
{
    std::uint32_t values[5] = {};
    for (std::size_t i = 0; i < 5 && (i + 1) * sizeof values[i] <= size; ++i)
        std::memcpy(&values[i], record + i * sizeof values[i], sizeof values[i]);
    return ProviderVersionEx{values[0], values[1], values[2], values[3], values[4]};
}

std::string build_type_name(std::uint32_t index)
{
    return name_in(build_type_names, index);
}

std::string architecture_name(std::uint32_t index)
{
    return name_in(architecture_names, index);
}

std::string os_family_name(std::uint32_t index)
{
    return name_in(os_family_names, index);
}

std::string product_version_text(std::uint32_t version_word, const ProviderVersionEx& ex)
{
    return version_text(version_word, ex.product_build) + "|" + os_family_name(ex.os_family) + "|" +
           architecture_name(ex.architecture) + "|" + build_type_name(ex.build_type);
}

std::string kernel_version_text(std::uint32_t version_word, const ProviderVersionEx& ex)
{
    return version_text(version_word, ex.kernel_build);
}

}  // namespace crypt_utils

}  // namespace keyhaven
