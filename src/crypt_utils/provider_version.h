#pragma once
// The GOST provider's product and kernel versions, for the start-up lines.

#include <string>

namespace keyhaven {

namespace crypt_utils {

// product: "4.5.1234|VER_OS_WINDOWS|VER_ARCH_IA32|VER_TYPE_RELEASE",
// kernel: "4.5.5678". Both are replaced only on success (rc 0); otherwise rc
// is the Windows error code of the failing call (200: allocation).
[[nodiscard]] int get_provider_version(std::string& product, std::string& kernel);

}  // namespace crypt_utils

}  // namespace keyhaven
