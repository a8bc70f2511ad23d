#pragma once
// The provider's version strings, from its version word and its extended
// version record. No Windows header here.

#include <cstddef>
#include <cstdint>
#include <string>

namespace keyhaven {

namespace crypt_utils {

// The first five 32-bit values of the extended version record (parameter 138).
struct ProviderVersionEx {
    std::uint32_t product_build;
    std::uint32_t kernel_build;
    std::uint32_t build_type;
    std::uint32_t architecture;
    std::uint32_t os_family;
};

// The values in record[0, size), in the machine's byte order; a value the
// record is too short to hold reads as 0.
ProviderVersionEx read_version_ex(const unsigned char* record, std::size_t size);

// Names of the three tables; an index outside its table gives its decimal number.
std::string build_type_name(std::uint32_t index);
std::string architecture_name(std::uint32_t index);
std::string os_family_name(std::uint32_t index);

// "major.minor.product_build|os|architecture|build type". Bits 0-7 of the
// word are the minor version, bits 8-15 the major; higher bits are ignored.
std::string product_version_text(std::uint32_t version_word, const ProviderVersionEx& ex);
// "major.minor.kernel_build".
std::string kernel_version_text(std::uint32_t version_word, const ProviderVersionEx& ex);

}  // namespace crypt_utils

}  // namespace keyhaven
